// WebSession: the one world that a page runs, with the level it was loaded from.
// It holds the texts it hands out, so a C caller may read them until its next call.
#pragma once

#include <memory>
#include <string>

#include "model/environment.h"
#include "sequencer/sequencer.h"

namespace orv::web {

class WebSession {
public:
    // Reads a level (see read_level) and starts a fresh run of it. A refused level leaves the
    // session as it was. Throws what read_level and the engine throw.
    void load(const std::string& level_text);
    // Runs one frame; the report's text, as the Python module's next_frame writes it.
    const std::string& step();
    // The current world's JSON, as Environment.to_json writes it.
    const std::string& world();
    // The current world's numbers that its JSON writes as null when they are NaN or infinite:
    // {"magnitudes": every charge's magnitude, zone by zone in preorder (parents first, sub-zones
    // in list order), charges in list order; "targets": every gate's target in the same order of
    // zones, agents in list order}. Finite values are written so that they read back exactly;
    // NaN, +inf and -inf as the strings "nan", "inf" and "-inf".
    const std::string& numbers();
    // A fresh run of the loaded level.
    void reset();
    bool loaded() const { return sequencer_ != nullptr; }

private:
    std::string level_text_;
    std::shared_ptr<Environment> root_;
    std::unique_ptr<NarrativeSequencer> sequencer_;
    std::string text_;
};

}  // namespace orv::web
