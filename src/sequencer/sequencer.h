// NarrativeSequencer: advances a world one frame at a time and reports it as JSON.
// One frame: freeze, collect, sort, offer the turn, else collapse one zone, else finish.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/environment.h"
#include "model/json_release.h"
#include "model/text_writer.h"
#include "sequencer/frame_event.h"
#include "sequencer/frame_record.h"

namespace orv {

using Candidate = std::pair<std::shared_ptr<MagicianAgent>, Environment*>;

// One level of a depth-first walk of the zones: the zone and the index of the next sub-zone to enter.
struct ZoneWalkStep {
    Environment* zone;
    std::size_t next;
};

class NarrativeSequencer {
public:
    // What a frame ends with: the status and the message of its report.
    struct Outcome {
        std::string status;
        std::string message;
    };

    // Refuses (std::invalid_argument) an empty root: every frame walks it.
    explicit NarrativeSequencer(std::shared_ptr<Environment> env);
    virtual ~NarrativeSequencer() = default;

    // Starts over on `env`, at frame 0 with nothing run, as a new sequencer would, keeping its
    // frame limit and the room its frames reuse (for a caller that runs many worlds one after
    // another). Refuses (std::invalid_argument) an empty root and then changes nothing.
    void restart(std::shared_ptr<Environment> env);

    // Runs one frame and returns its report: the root's JSON plus "meta".
    virtual nlohmann::json NextFrame();

    // Runs one frame as NextFrame does and writes the text of its report straight into `out`, with
    // no document built: the same bytes as to_text(NextFrame()) and the same refusals, all of them
    // after the frame is applied (before it, as in NextFrame, for a world too large to report).
    // Returns the frame's status and message.
    Outcome write_next_frame(TextWriter& out);

    // Runs one frame as NextFrame does, writing no report: for those who follow the run through
    // last_record and the world alone. Worlds too large to report are run all the same.
    Outcome run_frame() { return advance(false); }
    // The text of a report's "meta" object for a frame that ended with `status` and `message`.
    void write_meta(TextWriter& out, const std::string& status, const std::string& message) const;

    // Recomputes is_time_frozen for every zone below and including `env`, deepest first, and notes
    // in last_record.flips the zones whose flag changed.
    void update_freeze_states(Environment* env);
    // Appends (agent, zone) for every agent of an unfrozen zone, in depth-first post-order.
    void collect_agents(Environment* env, std::vector<Candidate>& out);
    // Folds the first collapsible sub-zone (no agent, one charge) into its parent.
    bool check_and_collapse(Environment* env);
    nlohmann::json generate_response(std::string status, std::string message);
    // The text of generate_response(status, message), written into `out`, with to_text's refusals.
    void write_response(TextWriter& out, const std::string& status, const std::string& message);

    // Compact text of `report`, the document that NextFrame has just returned: its depth is worked
    // out from the world as the frame left it, and it is written into a buffer with room for about
    // the previous report's text.
    std::string report_text(const nlohmann::json& report);

    std::int32_t current_frame = 0;
    std::int32_t max_frames = 1000;
    bool is_finished = false;
    // Whether frames write their event (last_event, and the message of their outcome). A caller that
    // follows many runs through last_record alone turns it off; the frames are the same but for that.
    bool tells_events = true;
    std::optional<FrameEvent> last_event;
    // What the last frame did and where (paths from the root). It is written after the frame's
    // change and before its event, so a frame that fails part way may leave it partly filled.
    FrameRecord last_record;
    std::shared_ptr<Environment> root_environment;
    // Length of the last text that report_text wrote.
    std::size_t report_text_size = 0;
    // Room to release the latest report without allocating (see json_release.h), made ready by
    // generate_response before it builds anything.
    ReleasePath report_path;

private:
    // One frame of NextFrame, up to its report; `reporting` refuses first a world too large to report.
    Outcome advance(bool reporting = true);
    // Room for about the previous report's text: consecutive reports differ by about one agent or
    // charge, and the slack covers a little growth.
    std::size_t expected_report_size() const { return report_text_size + report_text_size / 16 + 256; }

    // update_freeze_states, and when `out` is given collect_agents, in one walk: a zone's flag
    // depends only on its sub-zones' agents and charges, so it is final when the walk reaches it.
    void freeze_and_collect(Environment* env, std::vector<Candidate>* out);
    // Puts the agents offered the turn in descending order of priority, equals in collection order.
    void order_candidates();

    // Room that the frames reuse: the stack of the tree walks, the agents offered the turn and the
    // list that ordering them fills.
    std::vector<ZoneWalkStep> walk_;
    std::vector<Candidate> candidates_;
    std::vector<Candidate> ordered_;
    // Whether the last freeze walk passed a sub-zone that could fold (no agent, one charge).
    bool may_fold_ = true;
};

}  // namespace orv
