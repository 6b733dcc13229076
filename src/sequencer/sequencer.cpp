// NarrativeSequencer: advances a world one frame at a time and reports it as JSON.
// The tree walks keep an explicit stack, so a world may nest far deeper than the C stack allows.
#include "sequencer/sequencer.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <stdexcept>
#include <string_view>

#include "model/json_text.h"

namespace orv {

namespace {

// A zone that keeps its parent frozen: it still holds an agent or more than one charge.
bool unsettled(const Environment& zone) { return !zone.agents.empty() || zone.charges.size() >= 2; }

// A zone ready to fold into its parent: no agent and exactly one charge.
bool collapsible(const Environment& zone) { return zone.agents.empty() && zone.charges.size() == 1; }

// The parts one after another, in a text made once at its full size.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (std::string_view part : parts) size += part.size();
    std::string text;
    text.reserve(size);
    for (std::string_view part : parts) text += part;
    return text;
}

// Most agents offered the turn that a frame sorts by insertion.
constexpr std::size_t kInsertionSorted = 32;
// Most priorities among them that a frame counts out rather than sorts.
constexpr std::size_t kFewPriorities = 16;

using WalkStep = ZoneWalkStep;

// Calls visit(zone, path) for every zone below and including `root`, sub-zones in list order before
// the zone itself; `path` is the walk's stack, whose steps' `next - 1` are the zone's place from the
// root. A zone that sits in several places is visited once per place. A visit that returns true
// ends the walk. `path` is the room the walk keeps its stack in.
template <typename Visit>
void walk_post_order(Environment* root, std::vector<WalkStep>& path, Visit visit) {
    path.assign(1, WalkStep{root, 0});
    while (!path.empty()) {
        WalkStep& top = path.back();
        if (top.next < top.zone->sub_environments.size()) {
            Environment* sub = top.zone->sub_environments[top.next++].get();
            // Written in place: a step built aside and copied in is read back before it is stored.
            path.emplace_back();
            path.back().zone = sub;
            path.back().next = 0;
        } else {
            Environment* zone = top.zone;
            path.pop_back();
            if (visit(zone, path)) return;
        }
    }
}

// Writes into `place` the place of the zone whose steps (without the zone's own) are `path`.
void place_of(const std::vector<WalkStep>& path, ZonePath& place) {
    place.resize(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) place[i] = path[i].next - 1;
}

// Writes into `place` the first place of `zone` in post-order, which is where the frame loop first
// offers the turn to its agents.
void first_place(Environment* root, const Environment* zone, std::vector<WalkStep>& path, ZonePath& place) {
    walk_post_order(root, path, [&](Environment* visited, const std::vector<WalkStep>& path) {
        if (visited != zone) return false;
        place_of(path, place);
        return true;
    });
}

}  // namespace

NarrativeSequencer::NarrativeSequencer(std::shared_ptr<Environment> env) : root_environment(std::move(env)) {
    if (!root_environment) throw std::invalid_argument("NarrativeSequencer needs a root zone, not an empty pointer");
}

void NarrativeSequencer::restart(std::shared_ptr<Environment> env) {
    if (!env) throw std::invalid_argument("NarrativeSequencer needs a root zone, not an empty pointer");
    root_environment = std::move(env);
    current_frame = 0;
    is_finished = false;
    last_event.reset();
    last_record.clear();
    report_text_size = 0;
}

nlohmann::json NarrativeSequencer::NextFrame() {
    Outcome outcome = advance();
    return generate_response(std::move(outcome.status), std::move(outcome.message));
}

NarrativeSequencer::Outcome NarrativeSequencer::write_next_frame(TextWriter& out) {
    Outcome outcome = advance();
    write_response(out, outcome.status, outcome.message);
    return outcome;
}

NarrativeSequencer::Outcome NarrativeSequencer::advance(bool reporting) {
    last_event.reset();
    last_record.clear();
    if (current_frame >= max_frames) {
        is_finished = true;
        return {ORV_FRAME_EVENT_ERROR, "Max frame limit reached. Infinite loop detected."};
    }
    if (is_finished) {
        return {ORV_FRAME_EVENT_FINISHED, "Simulation complete. No further actions."};
    }
    // A world too large to report is refused before the frame changes anything.
    if (reporting) root_environment->json_depth();
    ++current_frame;

    Environment* root = root_environment.get();
    std::vector<Candidate>& candidates = candidates_;
    candidates.clear();
    freeze_and_collect(root, &candidates);
    order_candidates();

    bool someone_cast = false;
    for (const auto& [agent, zone] : candidates) {
        agent->state = AgentState::ACTIVE;
        if (!agent->CastSpell(zone->charges)) {
            agent->state = AgentState::DORMANT;
            continue;
        }
        zone->touch_charges();
        // The agent leaves its zone before the event, which allocates, is written: a frame that runs
        // out of memory here still leaves no agent behind that has cast.
        auto& agents = zone->agents;
        auto held = std::find(agents.begin(), agents.end(), agent);
        const std::size_t index = static_cast<std::size_t>(held - agents.begin());
        if (held != agents.end()) agents.erase(held);
        // The action is noted last, so that a record cut short by running out of memory says NONE.
        first_place(root, zone, walk_, last_record.zone);
        last_record.index = index;
        last_record.action = FrameRecord::Action::CAST;
        if (tells_events) {
            last_event = FrameEvent{agent->name, agent->visual_id, ORV_FRAME_EVENT_CAST_SPELL,
                                    joined({agent->name, " executed operation in ", zone->id})};
        }
        someone_cast = true;
        break;
    }

    // Nobody cast, so the world is as the freeze walk saw it: with no zone to fold there, none is sought.
    if (!someone_cast && !(may_fold_ && check_and_collapse(root))) {
        is_finished = true;
        last_record.action = FrameRecord::Action::FINISH;
        if (tells_events) last_event = FrameEvent{"System", "N/A", ORV_FRAME_EVENT_FINISHED, "Equation Resolved."};
    }
    // The agents offered the turn, the one that cast among them, live no longer than the frame.
    candidates.clear();
    return {is_finished ? ORV_FRAME_EVENT_FINISHED : ORV_FRAME_EVENT_RUNNING,
            last_event ? last_event->description : std::string()};
}

void NarrativeSequencer::order_candidates() {
    std::vector<Candidate>& list = candidates_;
    const auto before = [](const Candidate& a, const Candidate& b) { return a.first->priority > b.first->priority; };
    if (list.size() <= kInsertionSorted) {
        for (std::size_t i = 1; i < list.size(); ++i) {
            for (std::size_t j = i; j > 0 && before(list[j], list[j - 1]); --j) std::swap(list[j], list[j - 1]);
        }
        return;
    }
    // Priorities are fixed by the kinds, so a long list holds few of them: it is counted out by
    // priority into the second list (stable, in linear time, with no room taken), else merge sorted.
    std::int32_t levels[kFewPriorities];
    std::size_t starts[kFewPriorities];
    std::size_t count = 0;
    const auto level_of = [&](std::int32_t priority) {
        std::size_t at = 0;
        while (at < count && levels[at] != priority) ++at;
        return at;
    };
    for (const Candidate& candidate : list) {
        const std::int32_t priority = candidate.first->priority;
        if (level_of(priority) < count) continue;
        if (count == kFewPriorities) {
            std::stable_sort(list.begin(), list.end(), before);
            return;
        }
        levels[count++] = priority;
    }
    std::sort(levels, levels + count, std::greater<>());
    std::fill(starts, starts + count, 0);
    for (const Candidate& candidate : list) ++starts[level_of(candidate.first->priority)];
    for (std::size_t at = 0, start = 0; at < count; ++at) start += std::exchange(starts[at], start);
    ordered_.resize(list.size());
    for (Candidate& candidate : list) ordered_[starts[level_of(candidate.first->priority)]++] = std::move(candidate);
    list.swap(ordered_);
    ordered_.clear();
}

void NarrativeSequencer::update_freeze_states(Environment* env) { freeze_and_collect(env, nullptr); }

void NarrativeSequencer::freeze_and_collect(Environment* env, std::vector<Candidate>* out) {
    // The walk's steps below the lowest depth that a visit had since the last flip have not moved
    // (a step moves on only right after a visit one level below it), so the next flip's path keeps
    // that many steps of the last one, less the one that may have moved.
    bool first = true;
    std::size_t low = 0;
    bool may_fold = false;
    walk_post_order(env, walk_, [&](Environment* zone, const std::vector<WalkStep>& path) {
        low = std::min(low, path.size());
        may_fold = may_fold || (!path.empty() && collapsible(*zone));
        bool frozen = false;
        for (const auto& sub : zone->sub_environments) frozen = frozen || unsettled(*sub);
        if (zone->is_time_frozen != frozen) {
            const std::size_t keep = first || low == 0 ? 0 : low - 1;
            last_record.add_flip(frozen, keep, path.size(), [&](std::size_t k) { return path[k].next - 1; });
            zone->is_time_frozen = frozen;
            first = false;
            low = path.size();
        }
        if (out && !frozen) {
            for (const auto& agent : zone->agents) out->emplace_back(agent, zone);
        }
        return false;
    });
    may_fold_ = may_fold;
}

void NarrativeSequencer::collect_agents(Environment* env, std::vector<Candidate>& out) {
    walk_post_order(env, walk_, [&out](Environment* zone, const std::vector<WalkStep>&) {
        if (zone->is_time_frozen) return false;
        for (const auto& agent : zone->agents) out.emplace_back(agent, zone);
        return false;
    });
}

bool NarrativeSequencer::check_and_collapse(Environment* env) {
    // Post-order again, but the walk stops at the first finished sub-zone that is collapsible;
    // its parent is then the zone below it on the path. The root itself is never tested.
    std::vector<WalkStep>& path = walk_;
    path.assign(1, WalkStep{env, 0});
    while (!path.empty()) {
        WalkStep& top = path.back();
        if (top.next < top.zone->sub_environments.size()) {
            Environment* sub = top.zone->sub_environments[top.next++].get();
            path.emplace_back();
            path.back().zone = sub;
            path.back().next = 0;
            continue;
        }
        Environment* zone = top.zone;
        path.pop_back();
        if (path.empty() || !collapsible(*zone)) continue;

        Environment* parent = path.back().zone;
        const std::size_t place = path.back().next - 1;
        std::optional<FrameEvent> event;  // written before the fold, which the event then cannot fail
        if (tells_events) {
            const std::string& id = parent->sub_environments[place]->id;
            event = FrameEvent{"Chronomancer", joined({"shield_", id}), ORV_FRAME_EVENT_COLLAPSE_ZONE,
                               joined({"Zone ", id, " has resolved and merged."})};
        }
        parent->charges.push_back(zone->charges.front());
        parent->touch_charges();
        parent->remove_sub_environment(place);
        path.pop_back();
        place_of(path, last_record.zone);
        last_record.index = place;
        last_record.action = FrameRecord::Action::FOLD;
        last_event = std::move(event);
        return true;
    }
    return false;
}

nlohmann::json NarrativeSequencer::generate_response(std::string status, std::string message) {
    using json = nlohmann::json;
    // "meta" is at level 2 of the report and its "last_event" object at level 3.
    report_path.reserve(3);
    json document = root_environment->to_json(report_path);
    try {
        // Built where it stands in the report, so that a failure leaves one document to release.
        auto& meta = document["meta"];
        meta = json::object();
        meta["frame_index"] = json::number_integer_t{current_frame};
        meta["status"] = std::move(status);
        meta["message"] = std::move(message);
        auto& event = meta["last_event"];
        if (last_event) {
            event = json::object();
            event["agent_name"] = last_event->agent_name;
            event["visual_id"] = last_event->visual_id;
            event["type"] = last_event->type;
            event["description"] = last_event->description;
        }
    } catch (...) {
        release(document, report_path);  // the library's destructor would allocate
        throw;
    }
    return document;
}

void NarrativeSequencer::write_response(TextWriter& out, const std::string& status, const std::string& message) {
    // Refused as generate_response and then report_text would refuse: too large a world first.
    const std::size_t depth = std::max<std::size_t>(root_environment->json_depth(), last_event ? 3 : 2);
    check_text_depth(depth);
    out.reserve(out.size() + expected_report_size());
    const std::size_t start = out.size();
    root_environment->write_json_unchecked(out, [&](TextWriter& meta) {
        meta.raw(",\"meta\":");
        write_meta(meta, status, message);
    });
    report_text_size = out.size() - start;
}

void NarrativeSequencer::write_meta(TextWriter& out, const std::string& status, const std::string& message) const {
    out.raw("{\"frame_index\":");
    out.integer(current_frame);
    if (last_event) {
        out.raw(",\"last_event\":{\"agent_name\":");
        out.string(last_event->agent_name);
        out.raw(",\"description\":");
        out.string(last_event->description);
        out.raw(",\"type\":");
        out.string(last_event->type);
        out.raw(",\"visual_id\":");
        out.string(last_event->visual_id);
        out.raw("},\"message\":");
    } else {
        out.raw(",\"last_event\":null,\"message\":");
    }
    out.string(message);
    out.raw(",\"status\":");
    out.string(status);
    out.raw('}');
}

std::string NarrativeSequencer::report_text(const nlohmann::json& report) {
    // The report is the root's document plus "meta" at level 2, whose "last_event" object is at 3.
    const std::size_t depth = std::max<std::size_t>(root_environment->json_depth(), last_event ? 3 : 2);
    // Consecutive reports differ by about one agent or charge; the slack covers a little growth.
    std::string text = to_text(report, depth, expected_report_size());
    report_text_size = text.size();
    return text;
}

}  // namespace orv
