// Session: one level's run, the one thing behind the toolkit's module and the web engine: load a
// level, step, report text, frame record, narration, verdict, reset, save.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "model/environment.h"
#include "sequencer/sequencer.h"
#include "toolkit/level_file.h"
#include "toolkit/verdict.h"

namespace orv {

class Session {
public:
    Session();
    ~Session();

    // Reads a level (see read_level) and starts a fresh run of it, from frame 0 whatever its shape.
    // A refused level leaves the session as it was.
    void load(std::string_view text);
    // Reads the first report of a saved run and goes on from it: the same frame numbers, the same
    // end; follow_saved then takes the run's next reports.
    void load_saved(std::string_view report_text);
    bool loaded() const { return sequencer_ != nullptr; }
    // The level's title, description, and for a frame report its frame (0 otherwise).
    const std::optional<std::string>& title() const;
    const std::string& description() const;

    // A puzzle's tray: its pieces and the zones that accept them (no pieces for a finished world).
    const Tray& tray() const;
    // The paths of the zones that accept pieces, in preorder.
    std::vector<std::string> accepting() const;
    // Starts a fresh run of the loaded level with its pieces placed, `zones` naming the zone of each
    // piece by its path (see zone_path). Refuses (std::invalid_argument) a level without pieces,
    // another number of zones than of pieces, a path that names no zone or several, and a zone that
    // does not accept pieces, and then leaves the session as it was. reset() keeps the placement.
    void place(const std::vector<std::string>& zones);
    // The path of each piece's zone in this run; none while the pieces wait in the tray.
    const std::optional<std::vector<std::string>>& placement() const;
    // The placement in words, a line for each piece: "put the Plus Magician (smith) into anvil/bellows".
    std::vector<std::string> placement_lines() const;

    // Runs one frame; its report, as orv_engine's next_frame writes it. The text stays valid until
    // the next call that changes the session. A report nested too deep to write is refused
    // (std::length_error) with the depth of that report, the world after the frame, which has run:
    // "frame 1 has run, but its report cannot be written: cannot write a JSON document nested ...".
    const std::string& step();
    // Runs one frame as step() does, writing no report.
    void advance();
    // Runs one frame as step() does and returns its changes instead of its report: a JSON Patch
    // that turns the previous report (the world before frame 1 at first) into this frame's report
    // (see write_changes). Changes that name a zone deeper than a report can nest are refused as
    // step() refuses the report: "frame 1 has run, but its changes cannot be written: ...".
    const std::string& step_changes();
    // The changes of the last frame, whichever way it was run (see step_changes); for a saved run's
    // report that does not follow, one replacement of the whole document by that report.
    const std::string& changes();
    // The last frame's record, and the last frame told in words.
    const FrameRecord& record() const;
    const Told& told() const;
    // Follows a saved run: the next report of a run file. A report that the engine gives for the
    // next frame is followed as step() follows it; any other is noted by the judge and its world
    // taken as the run's from there on. Returns whether it followed.
    bool follow_saved(std::string_view report_text);

    Verdict verdict() const;
    // The root's name as the verdict names zones.
    std::string root_name() const;
    std::int32_t frame() const;
    // The last report's status ("" before the first frame), and whether the run has ended
    // (FINISHED or ERROR).
    const std::string& status() const;
    bool ended() const;

    // A fresh run of the loaded level, with its pieces placed as they were.
    void reset();

    // The current world's JSON, as Environment.to_json writes it.
    std::string world() const;
    // The current world as a level file, numbers exact (see write_level). A puzzle whose pieces are
    // not placed is written with its tray, before its first frame only: after it the zones that
    // accept pieces may have folded, and it is refused (std::invalid_argument).
    std::string level_text(const std::string& title, const std::string& description) const;
    // The current world's numbers that its JSON writes as null when they are NaN or infinite:
    // {"magnitudes": every charge's magnitude, zones in preorder, charges in list order; "targets":
    // every gate's target in the same order}, NaN and infinities as "nan", "inf", "-inf".
    std::string numbers() const;
    const Environment& root() const;

private:
    void start(Level level, std::string text, bool saved);
    // Takes note of a frame that has just run: its status, its words, its changes to come.
    void frame_done(NarrativeSequencer::Outcome outcome);
    void require_loaded(const char* what) const;

    std::string level_text_;
    Level level_;
    std::optional<std::vector<std::string>> placement_;
    std::unique_ptr<NarrativeSequencer> sequencer_;
    std::unique_ptr<Judge> judge_;
    FrameRecord record_;
    Told told_;
    std::string status_;
    std::string text_;
    // Whether the document before the next frame is a report (it is the bare world at first).
    bool reported_ = false;
    // The last frame's outcome, whether the document before it was the bare world, and its
    // changes once written ("" until asked for).
    NarrativeSequencer::Outcome outcome_;
    bool first_change_ = false;
    std::string changes_;
};

}  // namespace orv
