// WebSession: the one world that a page runs, with the level it was loaded from.
// Every text is written as the Python module writes it: straight from the world by the text writer.
#include "web/web_session.h"

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include "agents/gates.h"
#include "model/text_writer.h"
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
    TextWriter text;
    sequencer_->write_next_frame(text);
    text_.assign(text.data(), text.size());
    return text_;
}

const std::string& WebSession::world() {
    if (!root_) throw std::logic_error("no level is loaded: load one before asking for its world");
    TextWriter text;
    root_->write_json(text);
    text_.assign(text.data(), text.size());
    return text_;
}

namespace {

nlohmann::json exact(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
}

}  // namespace

const std::string& WebSession::numbers() {
    if (!root_) throw std::logic_error("no level is loaded: load one before asking for its numbers");
    nlohmann::json magnitudes = nlohmann::json::array();
    nlohmann::json targets = nlohmann::json::array();
    std::vector<const Environment*> stack{root_.get()};
    while (!stack.empty()) {
        const Environment* zone = stack.back();
        stack.pop_back();
        for (const Charge& charge : zone->charges) magnitudes.push_back(exact(charge.magnitude));
        for (const auto& agent : zone->agents) {
            if (const auto* gate = dynamic_cast<const EqualsGate*>(agent.get())) {
                targets.push_back(exact(gate->target_value));
            } else if (const auto* judge = dynamic_cast<const InequalityGate*>(agent.get())) {
                targets.push_back(exact(judge->target_value));
            }
        }
        for (auto it = zone->sub_environments.rbegin(); it != zone->sub_environments.rend(); ++it) {
            stack.push_back(it->get());
        }
    }
    nlohmann::json document = {{"magnitudes", std::move(magnitudes)}, {"targets", std::move(targets)}};
    text_ = document.dump();
    return text_;
}

void WebSession::reset() {
    if (!sequencer_) throw std::logic_error("no level is loaded: load one before resetting");
    const std::string level = level_text_;
    load(level);
}

}  // namespace orv::web
