// Verdicts of runs: the judge's mirror of the world's zones, moved along by the sequencer's frame
// records, the gates' last turns settled lazily, and the texts that tell a run to people.
#include "toolkit/verdict.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "agents/gates.h"
#include "toolkit/kinds.h"

namespace orv {

namespace {

constexpr std::size_t kShownZones = 5;     // zones named in a frame-limit verdict
constexpr std::size_t kShownReasons = 5;   // reasons under a narrated verdict
constexpr std::size_t kShownCharges = 12;  // charges written out in a narrated line

std::string label(const std::string& name, const std::string& visual_id) { return name + " (" + visual_id + ")"; }
std::string label(const MagicianAgent& agent) { return label(agent.name, agent.visual_id); }

std::string path_text(const ZonePath& path) {
    std::string text = "[";
    for (std::size_t i = 0; i < path.size(); ++i) text += (i ? ", " : "") + std::to_string(path[i]);
    return text + "]";
}

}  // namespace

// The judge mirrors the world's zones (ids, agents, frozen flags and the live zone of each) and
// moves the mirror along by each frame's record: a cast takes the agent out of its zone, a fold takes
// the sub-zone out of its parent and carries off everything below it. A gate has the turn at every
// frame that ends in a fold or in the end of the run while its zone is unfrozen, and weighs its
// zone's total before that frame. A zone's total changes only by a cast in it or a fold into it, and
// its flag only at the recorded flips, so a zone with gates keeps the frame since which both have
// stood: its gates' last turn is the last such frame, if it is not older and the zone is unfrozen,
// and is settled just before either changes. A frame thus costs the depth of the zones it names,
// not the size of the world (plus, for zones whose id is shared, their siblings: a name counts its
// place among same-id siblings).
struct Judge::State {
    struct Agent {
        // Held, so that an agent carried off by a fold can still be named; its name, visual id,
        // target and rule are read from it when a text needs them.
        std::shared_ptr<const MagicianAgent> live;
        bool gate = false;
        bool keeper = false;  // the Chronomancer: it never acts, so its zone never folds

        // Gates: the Judge's rule text, "=" for the Equals Gate, and the target.
        std::string rule() const {
            const char* text = rule_of(*live);
            return text ? text : "=";
        }
        double target() const { return target_of(*live).value_or(0.0); }
    };
    // A gate's last turn: the frame and its zone's total and number of charges before that frame.
    struct Turn {
        std::int32_t frame;
        double total;
        std::size_t charges;
    };
    struct Zone {
        std::string id;
        const Environment* live = nullptr;  // valid while the zone is in the mirror
        Zone* parent = nullptr;
        std::vector<Zone*> subs;
        std::vector<Agent> agents;
        bool frozen = false;
        // Kept for zones that hold gates: the total and charges the gates weigh now, the first frame
        // whose turn would weigh them (the last change of either, or of the frozen flag), and the last
        // turn settled before that change.
        std::size_t gates = 0;
        double total = 0.0;
        std::size_t charges = 0;
        std::int32_t since = 0;
        std::optional<Turn> turn;

        // Makes the zone as new for another mirror, its id and lists keeping their room.
        void renew() {
            id.clear();
            live = nullptr;
            parent = nullptr;
            subs.clear();
            agents.clear();
            frozen = false;
            gates = 0;
            total = 0.0;
            charges = 0;
            since = 0;
            turn.reset();
        }
    };

    const Environment* world = nullptr;
    std::vector<Zone> zones;  // every zone mirrored since the last (re)build, in preorder
    Zone* root = nullptr;
    std::size_t in_world = 0;  // zones of the mirror, the root included
    std::int32_t frames = 0;
    // How the run stands after its last frame: its report's status, as far as a verdict tells it.
    enum class Ending { RUNNING, FINISHED, LIMIT } ending = Ending::RUNNING;
    std::int32_t limit = 0;        // the frame limit, once a run has stopped at it
    std::int32_t last_check = -1;  // the last frame that offered every unfrozen gate the turn
    std::vector<std::string> unknown;  // what a saved run leaves untold
    std::vector<std::string> carried;  // what folds carried off, in the order of the run
    std::vector<Zone*> flipped;        // room for the zones a frame flips
    std::vector<Zone*> trail;          // room for the zones on the path of a flip, the root first
    // Room for the walks of build, kept for the next build.
    std::vector<const Environment*> pending;
    std::vector<std::pair<const Environment*, Zone*>> stack;
    std::unordered_set<std::string> duplicates;  // ids that more than one zone had when it was built
    std::vector<const std::string*> ids;          // room for finding them
    mutable std::vector<const Zone*> walk;         // room for the walks of the mirror

    static Ending ending_of(std::string_view status) {
        if (status == ORV_FRAME_EVENT_FINISHED) return Ending::FINISHED;
        return status == ORV_FRAME_EVENT_ERROR ? Ending::LIMIT : Ending::RUNNING;
    }

    // Mirrors `live` from scratch; turns count from frame `since` on. The zones of an earlier mirror
    // are used again (their lists keep their room).
    void build(const Environment& live, std::int32_t since) {
        world = &live;
        // The zones are counted first: the mirror's zones point at each other, so their list never grows.
        std::size_t count = 0;
        pending.assign(1, &live);
        while (!pending.empty()) {
            const Environment* env = pending.back();
            pending.pop_back();
            ++count;
            for (const auto& sub : env->sub_environments) pending.push_back(sub.get());
        }
        zones.resize(count);
        std::size_t used = 0;
        stack.assign(1, {&live, nullptr});
        while (!stack.empty()) {
            auto [env, parent] = stack.back();
            stack.pop_back();
            Zone& zone = zones[used++];
            zone.renew();
            zone.id = env->id;
            zone.live = env;
            zone.parent = parent;
            zone.frozen = env->is_time_frozen;
            zone.since = since;
            zone.agents.reserve(env->agents.size());
            for (const auto& agent : env->agents) zone.agents.push_back(mirror(agent));
            for (const Agent& agent : zone.agents) zone.gates += agent.gate ? 1 : 0;
            measure(zone);
            if (parent) parent->subs.push_back(&zone);
            for (auto it = env->sub_environments.rbegin(); it != env->sub_environments.rend(); ++it) {
                stack.emplace_back(it->get(), &zone);
            }
        }
        // Ids of an earlier mirror that were shared still count.
        ids.clear();
        for (const Zone& zone : zones) ids.push_back(&zone.id);
        std::sort(ids.begin(), ids.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
        for (std::size_t i = 1; i < ids.size(); ++i) {
            if (*ids[i] == *ids[i - 1]) duplicates.insert(*ids[i]);
        }
        root = &zones.front();
        in_world = zones.size();
    }

    static Agent mirror(const std::shared_ptr<MagicianAgent>& live) {
        static const AgentKind* const keeper = find_kind("chronomancer");
        Agent agent;
        agent.live = live;
        if (const AgentKind* kind = kind_of(*live)) {
            agent.gate = kind->gate;
            agent.keeper = kind == keeper;
        }
        return agent;
    }

    // Takes the zone's total as the gates sum it; only zones with gates need it.
    static void measure(Zone& zone) {
        if (!zone.gates) return;
        zone.total = zone_total(zone.live->charges);
        zone.charges = zone.live->charges.size();
    }

    // The last turn of the zone's gates as things stand: the last check since the zone took its
    // present total and flag, if it was unfrozen, else the turn settled before.
    std::optional<Turn> turn_of(const Zone& zone) const {
        if (!zone.frozen && last_check >= zone.since) return Turn{last_check, zone.total, zone.charges};
        return zone.turn;
    }

    // Just before the zone's total or flag changes: its gates' last turn so far is kept, and the
    // zone as it will be counts for the turns of frame `from` on.
    void settle(Zone& zone, std::int32_t from) {
        if (!zone.gates) return;
        zone.turn = turn_of(zone);
        zone.since = from;
    }

    Zone* at(const ZonePath& path) const {
        Zone* zone = root;
        for (std::size_t i = 0; i < path.size(); ++i) {
            if (path[i] >= zone->subs.size()) {
                throw std::out_of_range("the judge's world has no zone at path " + path_text(path) + ": zone " +
                                        name(*zone) + " has " + counted(zone->subs.size(), "sub-zone") +
                                        ", so the frame is not one of the run it follows");
            }
            zone = zone->subs[path[i]];
        }
        return zone;
    }

    // The zone's id when no other zone had it, else the ids of its path joined by "/", with the place
    // among same-id siblings ("r/b[2]") where there are several.
    std::string name(const Zone& zone) const {
        if (!duplicates.count(zone.id)) return zone.id;
        std::vector<std::string> parts;
        for (const Zone* node = &zone; node; node = node->parent) {
            std::string part = node->id;
            if (node->parent) {
                std::size_t same = 0, place = 0;
                for (const Zone* sibling : node->parent->subs) {
                    if (sibling->id != node->id) continue;
                    ++same;
                    if (sibling == node) place = same;
                }
                if (same > 1) part += "[" + std::to_string(place) + "]";
            }
            parts.push_back(std::move(part));
        }
        std::string text;
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) text += (text.empty() ? "" : "/") + *it;
        return text;
    }

    // Calls visit(zone) for the zones of the mirror in preorder, the root first; stops when it returns false.
    template <typename Visit>
    void preorder(Visit visit) const {
        std::vector<const Zone*>& stack = walk;
        stack.assign(1, root);
        while (!stack.empty()) {
            const Zone* zone = stack.back();
            stack.pop_back();
            if (!visit(*zone)) return;
            for (auto it = zone->subs.rbegin(); it != zone->subs.rend(); ++it) stack.push_back(*it);
        }
    }

    // The folded zone's own zones below it leave with it: each is named as carried off, and so is
    // each gate in them (the folded zone itself has no agent, or it could not have folded).
    void carry_off(const Zone& folded, const Zone& into, std::int32_t frame) {
        const std::string when = folded.subs.empty() ? std::string()
                                                     : " when zone " + name(folded) + " folded into " + name(into) +
                                                           " at frame " + std::to_string(frame);
        std::size_t gone = 0;
        std::vector<const Zone*>& stack = walk;
        stack.assign(1, &folded);
        while (!stack.empty()) {
            const Zone* zone = stack.back();
            stack.pop_back();
            ++gone;
            if (zone != &folded) {
                const std::string where = name(*zone);
                carried.push_back("zone " + where + " was carried off" + when);
                for (const Agent& agent : zone->agents) {
                    if (agent.gate) {
                        carried.push_back(label(*agent.live) + " in zone " + where +
                                          " was carried off unopened" + when);
                    }
                }
            }
            for (auto it = zone->subs.rbegin(); it != zone->subs.rend(); ++it) stack.push_back(*it);
        }
        in_world -= gone;
    }

    std::string closed_gate(const Agent& gate, const Zone& zone) const {
        const std::string where = name(zone);
        const std::string head = label(*gate.live) + " in zone " + where;
        const std::optional<Turn> turn = turn_of(zone);
        if (!turn) return head + " never had the turn: zone " + where + " stayed frozen";
        const std::string wants = "wants " + gate.rule() + " " + number_text(gate.target());
        const std::string test = turn->charges ? "total " + number_text(turn->total) + ", " + wants
                                               : "zone " + where + " held no charges to weigh, it " + wants;
        if (turn->frame == frames) return head + " did not open (" + test + ")";
        return head + " did not open when it last had the turn, at frame " + std::to_string(turn->frame) + " (" +
               test + "); zone " + where + " stayed frozen after that";
    }

    // Whether a sub-zone still in the world is a reason of its own: not when it is frozen (its own
    // sub-zones tell why) or when only gates are left in it (they tell why).
    static bool stuck(const Zone& zone) {
        if (zone.frozen) return false;
        if (zone.agents.empty()) return true;
        for (const Agent& agent : zone.agents) {
            if (!agent.gate) return true;
        }
        return false;
    }

    // Why a sub-zone is still in the world, when it is stuck.
    std::optional<std::string> stuck_zone(const Zone& zone) const {
        if (!stuck(zone)) return std::nullopt;
        const std::string where = name(zone);
        for (const Agent& agent : zone.agents) {
            if (agent.keeper) return "zone " + where + " is held by " + label(*agent.live);
        }
        std::string idle;
        for (const Agent& agent : zone.agents) {
            if (!agent.gate) idle += (idle.empty() ? "" : ", ") + label(*agent.live) + " could not act";
        }
        if (!idle.empty()) return "zone " + where + ": " + idle;
        const std::size_t charges = zone.live->charges.size();
        if (charges == 0) return "zone " + where + " is empty, so it never folds";
        if (charges > 1) return "zone " + where + " is left with " + std::to_string(charges) + " charges";
        return "zone " + where + " has not folded";
    }

    // The words of a frame that ran nothing: the run had stopped at the limit or was over.
    Told idle_frame() const {
        std::string words = ending == Ending::LIMIT
                                ? "the frame limit (" + grouped(static_cast<std::size_t>(limit)) + " frames) is reached"
                                : "the story is already over";
        return Told{std::move(words), charges_text(*root->live, root->id)};
    }

    void ended_at(std::int32_t frame, const std::string& status, std::int32_t frame_limit) {
        frames = frame;
        ending = ending_of(status);
        if (ending == Ending::LIMIT) limit = frame_limit;
    }
};

Judge::Judge(const Environment& world) : state_(std::make_unique<State>()) { state_->build(world, 0); }

Judge::~Judge() = default;

Told Judge::follow(const NarrativeSequencer& sequencer, const std::string& status) {
    State& s = *state_;
    const FrameRecord& record = sequencer.last_record;
    const std::int32_t frame = sequencer.current_frame;
    using Action = FrameRecord::Action;

    // Every place is found before anything changes, so a record of another run changes nothing. The
    // flips' zones are found down a trail of the zones on the last flip's path, which each flip
    // keeps in part, so that finding them costs the steps the record holds.
    std::vector<State::Zone*>& flipped = s.flipped;
    std::vector<State::Zone*>& trail = s.trail;
    flipped.clear();
    record.each_flip([&](const ZonePath& path, std::size_t keep, bool) {
        trail.resize(std::min(keep, trail.empty() ? 0 : trail.size() - 1) + 1);
        trail[0] = s.root;
        for (std::size_t k = trail.size() - 1; k < path.size(); ++k) {
            if (path[k] >= trail.back()->subs.size()) s.at(path);  // says why it cannot be followed
            trail.push_back(trail.back()->subs[path[k]]);
        }
        flipped.push_back(trail.back());
    });
    State::Zone* place = record.action == Action::CAST || record.action == Action::FOLD ? s.at(record.zone) : nullptr;
    const std::size_t held = record.action == Action::CAST ? place->agents.size()
                             : record.action == Action::FOLD ? place->subs.size() : 0;
    if (place && record.index >= held) {
        throw std::out_of_range("the judge's zone " + s.name(*place) + " at path " + path_text(record.zone) + " has " +
                                counted(held, record.action == Action::CAST ? "agent" : "sub-zone") +
                                ", not one at index " + std::to_string(record.index) +
                                ", so the frame is not one of the run it follows");
    }

    s.ended_at(frame, status, sequencer.max_frames);
    for (std::size_t i = 0; i < flipped.size(); ++i) {
        s.settle(*flipped[i], frame);
        flipped[i]->frozen = record.flips[i].to;
    }

    switch (record.action) {
        case Action::CAST: {
            State::Agent agent = std::move(place->agents[record.index]);
            place->agents.erase(place->agents.begin() + static_cast<std::ptrdiff_t>(record.index));
            s.settle(*place, frame + 1);
            if (agent.gate) --place->gates;
            State::measure(*place);
            const std::string where = s.name(*place);
            return Told{label(*agent.live) + (agent.gate ? " opened" : " cast") + " in zone " + where,
                        charges_text(*place->live, where)};
        }
        case Action::FOLD: {
            s.last_check = frame;  // everyone was offered the turn and declined before the fold
            State::Zone* folded = place->subs[record.index];
            const std::string folded_name = s.name(*folded);
            s.carry_off(*folded, *place, frame);
            s.settle(*place, frame + 1);
            place->subs.erase(place->subs.begin() + static_cast<std::ptrdiff_t>(record.index));
            if (place->gates && !place->live->charges.empty()) {
                // The folded charge is appended, so the sum goes on from the last one as zone_total would.
                place->total = place->total + signed_value(place->live->charges.back());
                ++place->charges;
            }
            const std::string into = s.name(*place);
            return Told{"zone " + folded_name + " folded into " + into, charges_text(*place->live, into)};
        }
        case Action::FINISH:
            if (s.ending != State::Ending::LIMIT) s.last_check = frame;
            return Told{"nothing is left to cast or fold", charges_text(*s.root->live, s.name(*s.root))};
        case Action::NONE:
            break;
    }
    return s.idle_frame();
}

Told Judge::begin_saved(std::int32_t frame, const std::string& status, const std::optional<FrameEvent>& event) {
    State& s = *state_;
    s.ended_at(frame, status, frame);
    for (State::Zone& zone : s.zones) zone.since = frame;
    if (!event) return s.idle_frame();
    if (event->type == ORV_FRAME_EVENT_COLLAPSE_ZONE) {
        const std::string prefix = "shield_";
        const std::string& id = event->visual_id;
        const std::string folded = id.compare(0, prefix.size(), prefix) == 0 ? id.substr(prefix.size()) : id;
        s.unknown.push_back("zone " + folded + " folded at frame " + std::to_string(frame) +
                            ", before the first report of the run file, so what that fold carried off cannot be told");
    } else if (event->type == ORV_FRAME_EVENT_FINISHED && status != ORV_FRAME_EVENT_ERROR) {
        s.last_check = frame;
    }
    return Told{event->description, ""};
}

Told Judge::lost(std::int32_t frame, const std::string& description, const Environment& world,
                 const std::string& status) {
    State& s = *state_;
    s.unknown.push_back("the event of frame " + std::to_string(frame) + " (" + description +
                        ") does not follow from the world before it, so the run cannot be judged");
    s.build(world, frame + 1);
    s.ended_at(frame, status, frame);
    return Told{description, ""};
}

Verdict Judge::verdict() const {
    const State& s = *state_;
    Verdict verdict;
    verdict.frames = s.frames;
    if (s.ending == State::Ending::LIMIT) {
        verdict.kind = "limit";
        verdict.reasons.push_back("the engine stops every run at " + grouped(static_cast<std::size_t>(s.limit)) +
                                  " frames");
        const std::size_t left = s.in_world - 1;
        std::string shown;
        std::size_t named = 0;
        s.preorder([&](const State::Zone& zone) {
            if (&zone == s.root) return true;
            shown += (named ? ", " : "") + s.name(zone);
            return ++named < kShownZones;
        });
        if (left > kShownZones) shown += " and " + grouped(left - kShownZones) + " more";
        verdict.reasons.push_back(counted(left, "zone") + " still to fold" + (left ? ": " + shown : ""));
        return verdict;
    }
    if (s.ending != State::Ending::FINISHED) {
        verdict.kind = "paused";
        return verdict;
    }
    verdict.reasons = s.unknown;
    verdict.reasons.insert(verdict.reasons.end(), s.carried.begin(), s.carried.end());
    s.preorder([&](const State::Zone& zone) {
        for (const State::Agent& agent : zone.agents) {
            if (agent.gate) verdict.reasons.push_back(s.closed_gate(agent, zone));
        }
        return true;
    });
    s.preorder([&](const State::Zone& zone) {
        if (&zone == s.root) return true;
        if (auto reason = s.stuck_zone(zone)) verdict.reasons.push_back(std::move(*reason));
        return true;
    });
    verdict.kind = verdict.reasons.empty() ? "solved" : "unsolved";
    return verdict;
}

bool finished_run_solved(const Environment& root, std::size_t zones, std::size_t folds) {
    if (!root.sub_environments.empty() || folds + 1 != zones) return false;
    for (const auto& agent : root.agents) {
        const AgentKind* kind = kind_of(*agent);
        if (kind && kind->gate) return false;
    }
    return true;
}

std::string Judge::zone_name(const ZonePath& path) const { return state_->name(*state_->at(path)); }

const char* verdict_word(const std::string& kind) {
    if (kind == "solved") return "SOLVED";
    if (kind == "unsolved") return "UNSOLVED";
    if (kind == "limit") return "FRAME LIMIT";
    return kind == "paused" ? "PAUSED" : "";
}

std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

std::string counted(std::uint64_t n, const std::string& word) { return grouped(n) + " " + word + (n == 1 ? "" : "s"); }

std::string number_text(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    if (value == std::trunc(value) && std::fabs(value) < 1e15) return std::to_string(static_cast<long long>(value));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    // Whatever the C locale's decimal point is, the text has a full stop.
    std::string text;
    for (const char* c = buffer; *c; ++c) {
        const bool ours = (*c >= '0' && *c <= '9') || *c == 'e' || *c == '+' || *c == '-';
        if (ours) {
            text += *c;
        } else if (text.empty() || text.back() != '.') {
            text += '.';
        }
    }
    return text;
}

std::string charges_text(const Environment& zone, const std::string& name) {
    std::string text = name + ": ";
    const std::size_t count = zone.charges.size();
    if (count == 0) return text + "(no charges)";
    for (std::size_t i = 0; i < count && i < kShownCharges; ++i) {
        const Charge& charge = zone.charges[i];
        const char* sign = charge.polarity == ChargePolarity::POSITIVE   ? "+"
                           : charge.polarity == ChargePolarity::NEGATIVE ? "-"
                           : charge.polarity == ChargePolarity::NEUTRAL  ? "~"
                                                                         : "?";
        text += (i ? " " : "") + std::string(sign) + number_text(charge.magnitude);
    }
    if (count > kShownCharges) text += " and " + grouped(count - kShownCharges) + " more";
    return text;
}

std::vector<std::string> world_lines(const Environment& root) {
    std::vector<std::string> lines;
    std::vector<std::pair<const Environment*, std::size_t>> stack{{&root, 0}};
    while (!stack.empty()) {
        auto [zone, depth] = stack.back();
        stack.pop_back();
        std::string line(2 * std::min<std::size_t>(depth, 12), ' ');
        line += charges_text(*zone, zone->id);
        std::string agents;
        for (const auto& agent : zone->agents) {
            agents += (agents.empty() ? "" : ", ") + label(agent->name, agent->visual_id);
        }
        if (!agents.empty()) line += "  [" + agents + "]";
        lines.push_back(std::move(line));
        for (auto it = zone->sub_environments.rbegin(); it != zone->sub_environments.rend(); ++it) {
            stack.emplace_back(it->get(), depth + 1);
        }
    }
    return lines;
}

std::vector<std::string> summary_lines(const Verdict& verdict, const std::string& root_name) {
    const std::string frames = std::to_string(verdict.frames) + (verdict.frames == 1 ? " frame" : " frames");
    if (verdict.kind == "solved") {
        return {"Solved in " + frames + ": every gate opened and every zone folded into " + root_name + "."};
    }
    if (verdict.kind == "paused") return {"Paused after " + frames + "."};
    std::vector<std::string> lines{(verdict.kind == "unsolved" ? "Unsolved" : "Stopped by the frame limit") +
                                   std::string(" after ") + frames + ":"};
    const std::size_t reasons = verdict.reasons.size();
    for (std::size_t i = 0; i < reasons && i < kShownReasons; ++i) lines.push_back("  - " + verdict.reasons[i]);
    if (reasons > kShownReasons) lines.push_back("  - and " + grouped(reasons - kShownReasons) + " more");
    return lines;
}

}  // namespace orv
