// Verdicts of runs: a judge follows one run, frame record by frame record, and says how it ended;
// it also tells each frame in words, the one narration of the terminal, the replay page and the studio.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/environment.h"
#include "sequencer/frame_event.h"
#include "sequencer/frame_record.h"
#include "sequencer/sequencer.h"

namespace orv {

struct Verdict {
    std::string kind;  // "solved", "unsolved", "limit" or "paused"
    std::int32_t frames = 0;
    std::vector<std::string> reasons;
};

// One frame told for people: what it did ("Plus Magician (smith) cast in zone forge", "zone a
// folded into r") and the charges of the zone it touched ("forge: +3 -2"), "" when it touched none.
struct Told {
    std::string words;
    std::string where;
};

class Judge {
public:
    // Follows the run of `world`, the live root as it stands before the run's next frame; the judge
    // reads its numbers as frames change them, so the world must outlive the judge.
    explicit Judge(const Environment& world);
    ~Judge();
    Judge(const Judge&) = delete;
    Judge& operator=(const Judge&) = delete;

    // Takes the frame that `sequencer` (running the judge's world) has just run: its record, its
    // event, its frame number and `status`, the status of its report. Costs about the depth of
    // what the frame changed, not the size of the world.
    Told follow(const NarrativeSequencer& sequencer, const std::string& status);

    // For a saved run whose first report (frame `frame`, with `status` and `event`) is the world the
    // judge was built from: that report's event cannot be placed, and a fold there is named as such.
    Told begin_saved(std::int32_t frame, const std::string& status, const std::optional<FrameEvent>& event);
    // For a saved run whose report of frame `frame` does not follow from the one before: notes it
    // (the run cannot be judged) and follows `world`, that report's world, from there on. Returns
    // that frame told: the report's event `description`, and no zone.
    Told lost(std::int32_t frame, const std::string& description, const Environment& world, const std::string& status);

    Verdict verdict() const;
    // How the judge names a zone of the current world, by its path.
    std::string zone_name(const ZonePath& path) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Whether a run that finished (its last frame found nothing to cast or fold) is solved, from the world
// it ended with: every other zone folded into the root, none carried off inside another (the run's
// `folds` are one less than the `zones` it began with), and no gate left in the root. The judge's
// verdict of such a run says the same: any zone left has a sub-zone, or is one, that nothing freezes.
bool finished_run_solved(const Environment& root, std::size_t zones, std::size_t folds);

// The verdict as a status shows it: "SOLVED", "UNSOLVED", "FRAME LIMIT", "PAUSED" ("" for another kind).
const char* verdict_word(const std::string& kind);

// Texts of the narration that do not depend on a run's history.
// A count with its thousands set apart by commas: 1,000.
std::string grouped(std::uint64_t n);
// "1 zone", "8 zones", "1,002 zones".
std::string counted(std::uint64_t n, const std::string& word);
// A magnitude or total as people write it: 3, 2.5, 1e+20, inf, -inf, nan.
std::string number_text(double value);
// The zone's charges in a line: "forge: +3 -2 ~0.5" (the first twelve, then "and N more").
std::string charges_text(const Environment& zone, const std::string& name);
// The world as an indented list of zones: charges, then the agents that wait there.
std::vector<std::string> world_lines(const Environment& root);
// The closing lines of a narrated run ("Solved in 3 frames: ..."), its reasons the first five.
std::vector<std::string> summary_lines(const Verdict& verdict, const std::string& root_name);

}  // namespace orv
