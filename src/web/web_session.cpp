// WebSession: the one world that a page runs, with the level it was loaded from.
// Every text is written exactly as the Python module writes it (report_text, to_text by depth).
#include "web/web_session.h"

#include <stdexcept>
#include <utility>

#include "model/json_text.h"
#include "web/level_reader.h"

namespace orv::web {

void WebSession::load(const std::string& level_text) {
    auto root = read_level(level_text);
    auto sequencer = std::make_unique<NarrativeSequencer>(root);
    level_text_ = level_text;
    root_ = std::move(root);
    sequencer_ = std::move(sequencer);
}

const std::string& WebSession::step() {
    if (!sequencer_) throw std::logic_error("no level is loaded: load one before stepping");
    nlohmann::json report = sequencer_->NextFrame();
    std::string text = sequencer_->report_text(report);
    release(report);
    text_ = std::move(text);
    return text_;
}

const std::string& WebSession::world() {
    if (!root_) throw std::logic_error("no level is loaded: load one before asking for its world");
    nlohmann::json document = root_->to_json();
    std::string text = to_text(document, root_->json_depth());
    release(document);
    text_ = std::move(text);
    return text_;
}

void WebSession::reset() {
    if (!sequencer_) throw std::logic_error("no level is loaded: load one before resetting");
    const std::string level = level_text_;
    load(level);
}

}  // namespace orv::web
