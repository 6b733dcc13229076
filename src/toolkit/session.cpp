// Session: one level's run, with its judge; every text is written as the Python module writes it,
// straight from the world by the text writer.
#include "toolkit/session.h"

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/text_writer.h"
#include "toolkit/changes.h"
#include "toolkit/kinds.h"

namespace orv {

namespace {

nlohmann::json exact(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
}

}  // namespace

Session::Session() = default;
Session::~Session() = default;

void Session::load(std::string_view text) {
    Level level = read_level(text);
    start(std::move(level), std::string(text), false);
}

void Session::load_saved(std::string_view report_text) {
    Level level = read_level(report_text);
    start(std::move(level), std::string(report_text), true);
}

void Session::start(Level level, std::string text, bool saved) {
    if (!saved) level.frame.reset();
    auto sequencer = std::make_unique<NarrativeSequencer>(level.world);
    auto judge = std::make_unique<Judge>(*level.world);
    Told told;
    if (level.frame) {
        // A saved run goes on from its report: the same frame numbers, the same end.
        sequencer->current_frame = *level.frame;
        sequencer->is_finished = level.status == ORV_FRAME_EVENT_FINISHED || level.status == ORV_FRAME_EVENT_ERROR;
        told = judge->begin_saved(*level.frame, level.status, level.event);
    }
    level_text_ = std::move(text);
    placement_.reset();
    status_ = level.frame ? level.status : std::string();
    level_ = std::move(level);
    judge_ = std::move(judge);
    sequencer_ = std::move(sequencer);
    told_ = std::move(told);
    reported_ = saved;
    outcome_ = {};
    changes_.clear();
}

void Session::require_loaded(const char* what) const {
    if (!sequencer_) throw std::logic_error(std::string("no level is loaded: load one before ") + what);
}

const std::optional<std::string>& Session::title() const { return level_.title; }
const std::string& Session::description() const { return level_.description; }

const Tray& Session::tray() const { return level_.tray; }

std::vector<std::string> Session::accepting() const {
    require_loaded("naming the zones that accept pieces");
    // The numbers are the loaded world's, before any frame: paths are taken from a fresh copy.
    const Level level = read_level(level_text_);
    return zone_paths(*level.world, accepting_zones(*level.world, level.tray));
}

void Session::place(const std::vector<std::string>& zones) {
    require_loaded("placing its pieces");
    Level level = read_level(level_text_);
    const Tray& tray = level.tray;
    const std::size_t pieces = tray.pieces.size();
    if (pieces == 0) throw std::invalid_argument("this level has no pieces to place");
    if (zones.size() != pieces) {
        throw std::invalid_argument("the level has " + std::to_string(pieces) + (pieces == 1 ? " piece" : " pieces") +
                                    ", so a placement names " + std::to_string(pieces) + (pieces == 1 ? " zone" : " zones") +
                                    ", not " + std::to_string(zones.size()));
    }
    Placement placement;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::vector<std::size_t> found = zones_named(*level.world, zones[i]);
        const std::string piece = "piece " + std::to_string(i + 1) + " (" + piece_label(*tray.pieces[i]) + ")";
        if (found.empty()) {
            throw std::invalid_argument(piece + ": no zone has the path \"" + zones[i] + "\" (the paths are " +
                                        zone_path_examples(*level.world) + ")");
        }
        if (found.size() > 1) {
            throw std::invalid_argument(piece + ": the path \"" + zones[i] + "\" names " + std::to_string(found.size()) +
                                        " zones");
        }
        placement.push_back(found.front());
    }
    place_pieces(*level.world, tray, placement);
    start(std::move(level), std::string(level_text_), false);
    placement_ = zones;
}

const std::optional<std::vector<std::string>>& Session::placement() const { return placement_; }

std::vector<std::string> Session::placement_lines() const {
    std::vector<std::string> lines;
    if (!placement_) return lines;
    for (std::size_t i = 0; i < placement_->size(); ++i) {
        lines.push_back(placement_line(*level_.tray.pieces[i], (*placement_)[i]));
    }
    return lines;
}

void Session::frame_done(NarrativeSequencer::Outcome outcome) {
    status_ = outcome.status;
    told_ = judge_->follow(*sequencer_, status_);
    changes_.clear();
    first_change_ = !reported_;
    reported_ = true;
    outcome_ = std::move(outcome);
}

const std::string& Session::step() {
    require_loaded("stepping");
    TextWriter text;
    NarrativeSequencer::Outcome outcome;
    // A frame applied whose report was lost (a world nested too deep to write): the judge follows
    // it all the same, with the status the sequencer gave it. Returns whether the frame ran.
    const auto lost = [this] {
        if (sequencer_->last_record.action == FrameRecord::Action::NONE) return false;
        frame_done({sequencer_->is_finished ? ORV_FRAME_EVENT_FINISHED : ORV_FRAME_EVENT_RUNNING,
                    sequencer_->last_event ? sequencer_->last_event->description : std::string()});
        return true;
    };
    try {
        outcome = sequencer_->write_next_frame(text);
    } catch (const std::length_error& refused) {
        // The refusal measures the report, the world after the frame, which may nest less deeply
        // than the world before it (a fold takes a zone out): said so, the two depths do not clash.
        if (!lost()) throw;
        throw std::length_error("frame " + std::to_string(frame()) + " has run, but its report cannot be written: " +
                                refused.what());
    } catch (...) {
        lost();
        throw;
    }
    frame_done(std::move(outcome));
    text_.assign(text.data(), text.size());
    return text_;
}

void Session::advance() {
    require_loaded("stepping");
    frame_done(sequencer_->run_frame());
}

const std::string& Session::step_changes() {
    advance();
    return changes();
}

const std::string& Session::changes() {
    require_loaded("asking for a frame's changes");
    if (changes_.empty() && outcome_.status.empty()) throw std::logic_error("no frame has run yet: step first");
    if (changes_.empty()) {
        TextWriter text;
        try {
            write_changes(text, *sequencer_, outcome_, first_change_);
        } catch (const std::length_error& refused) {
            throw std::length_error("frame " + std::to_string(frame()) + " has run, but its changes cannot be written: " +
                                    refused.what());
        }
        changes_.assign(text.data(), text.size());
    }
    return changes_;
}

bool Session::follow_saved(std::string_view report_text) {
    require_loaded("following a saved run");
    const nlohmann::json given = nlohmann::json::parse(report_text, nullptr, false);
    TextWriter text;
    NarrativeSequencer::Outcome outcome = sequencer_->write_next_frame(text);
    const nlohmann::json ours = nlohmann::json::parse(text.data(), text.data() + text.size(), nullptr, false);
    if (!given.is_discarded() && given == ours) {
        frame_done(std::move(outcome));
        text_.assign(text.data(), text.size());
        return true;
    }
    // The file says something else happened: its world is the run's from here on.
    Level level = read_level(report_text);
    const std::int32_t frame = level.frame.value_or(sequencer_->current_frame);
    const std::string description = level.event ? level.event->description : std::string();
    auto sequencer = std::make_unique<NarrativeSequencer>(level.world);
    sequencer->current_frame = frame;
    sequencer->is_finished = level.status == ORV_FRAME_EVENT_FINISHED || level.status == ORV_FRAME_EVENT_ERROR;
    judge_->lost(frame, description, *level.world, level.status);
    status_ = level.status;
    reported_ = true;
    told_ = Told{};
    level_.world = level.world;
    sequencer_ = std::move(sequencer);
    text_.assign(report_text.data(), report_text.size());
    // The frame's changes: the whole report in place of the document.
    changes_ = "[{\"op\":\"replace\",\"path\":\"\",\"value\":" + text_ + "}]";
    return false;
}

const FrameRecord& Session::record() const {
    static const FrameRecord none;
    return sequencer_ ? sequencer_->last_record : none;
}

const Told& Session::told() const { return told_; }

Verdict Session::verdict() const {
    require_loaded("asking for a verdict");
    return judge_->verdict();
}

std::string Session::root_name() const {
    require_loaded("naming its zones");
    return judge_->zone_name({});
}

std::int32_t Session::frame() const { return sequencer_ ? sequencer_->current_frame : 0; }
const std::string& Session::status() const { return status_; }
bool Session::ended() const { return status_ == ORV_FRAME_EVENT_FINISHED || status_ == ORV_FRAME_EVENT_ERROR; }

void Session::reset() {
    require_loaded("resetting");
    if (placement_) {
        const std::vector<std::string> zones = *placement_;
        place(zones);
        return;
    }
    std::string text = level_text_;
    const bool saved = level_.frame.has_value();
    start(read_level(text), std::move(text), saved);
}

std::string Session::world() const {
    require_loaded("asking for its world");
    TextWriter text;
    sequencer_->root_environment->write_json(text);
    return std::string(text.data(), text.size());
}

std::string Session::level_text(const std::string& title, const std::string& description) const {
    require_loaded("saving its world");
    if (level_.tray.pieces.empty() || placement_) return write_level(*sequencer_->root_environment, title, description);
    if (!status_.empty()) {
        throw std::invalid_argument("cannot save this puzzle as it stands: its pieces wait in the tray and frames have "
                                    "run, which may have folded the zones that accept them; save it before its first "
                                    "frame, or with its pieces placed");
    }
    return write_level(*sequencer_->root_environment, title, description, level_.tray);
}

std::string Session::numbers() const {
    require_loaded("asking for its numbers");
    nlohmann::json magnitudes = nlohmann::json::array();
    nlohmann::json targets = nlohmann::json::array();
    std::vector<const Environment*> stack{sequencer_->root_environment.get()};
    while (!stack.empty()) {
        const Environment* zone = stack.back();
        stack.pop_back();
        for (const Charge& charge : zone->charges) magnitudes.push_back(exact(charge.magnitude));
        for (const auto& agent : zone->agents) {
            if (const auto target = target_of(*agent)) targets.push_back(exact(*target));
        }
        for (auto it = zone->sub_environments.rbegin(); it != zone->sub_environments.rend(); ++it) {
            stack.push_back(it->get());
        }
    }
    nlohmann::json document = {{"magnitudes", std::move(magnitudes)}, {"targets", std::move(targets)}};
    return document.dump();
}

const Environment& Session::root() const {
    require_loaded("asking for its world");
    return *sequencer_->root_environment;
}

}  // namespace orv
