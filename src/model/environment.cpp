// Environment: a zone of the world, holding charges, agents and nested sub-zones.
// Tree walks here (JSON form, cycle test, release) keep their own stack, so depth costs heap, not C stack.
#include "model/environment.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "model/json_release.h"
#include "model/json_text.h"

namespace orv {

Environment::~Environment() {
    // A sub-zone that dies here would release its own sub-zones from its destructor, and so on
    // down a chain. Instead the zones that only this walk still owns are kept on a list linked
    // through their own next_dying_ member, each still holding its sub-zones; the walk takes sub-zones
    // off the end of the top zone's list, and a zone leaves the list (and dies) once its own list
    // is empty. Nothing here allocates, so a zone can be dropped when memory has run out.
    std::shared_ptr<Environment> dying;  // top of the list
    std::vector<std::shared_ptr<Environment>>* subs = &sub_environments;
    for (;;) {
        while (!subs->empty()) {
            std::shared_ptr<Environment> zone = std::move(subs->back());
            subs->pop_back();
            --zone->places;
            if (zone.use_count() == 1 && !zone->sub_environments.empty()) {
                zone->next_dying_ = std::move(dying);
                dying = std::move(zone);
                subs = &dying->sub_environments;
            }
        }
        if (!dying) break;
        // Emptied: it dies here with no sub-zones and no link.
        std::shared_ptr<Environment> done = std::move(dying);
        dying = std::move(done->next_dying_);
        subs = dying ? &dying->sub_environments : &sub_environments;
    }
}

nlohmann::json Environment::to_json() const {
    ReleasePath path;
    return to_json(path);
}

nlohmann::json Environment::to_json(ReleasePath& path) const {
    using json = nlohmann::json;
    path.reserve(json_depth());  // also refuses a document too large to build
    json document;
    try {
        build_json(document);
    } catch (...) {
        release(document, path);  // the library's destructor would allocate
        throw;
    }
    return document;
}

void Environment::build_json(nlohmann::json& document) const {
    using json = nlohmann::json;
    // Each zone's object is written into the slot that its parent reserved for it. Members go in
    // in byte order of their keys, each at the end of the map without a search, and the arrays are
    // filled where they stand.
    std::vector<std::pair<const Environment*, json*>> pending{{this, &document}};
    while (!pending.empty()) {
        auto [zone, out] = pending.back();
        pending.pop_back();

        *out = json(json::value_t::object);
        auto& members = out->get_ref<json::object_t&>();
        auto& agents = members.emplace_hint(members.end(), "agents", json::value_t::array)->second.get_ref<json::array_t&>();
        agents.reserve(zone->agents.size());
        for (const auto& agent : zone->agents) agents.emplace_back(agent->to_json());
        auto& charges = members.emplace_hint(members.end(), "charges", json::value_t::array)->second.get_ref<json::array_t&>();
        charges.reserve(zone->charges.size());
        for (const Charge& charge : zone->charges) charges.emplace_back(charge.to_json());
        members.emplace_hint(members.end(), "id", zone->id);
        const std::size_t count = zone->sub_environments.size();
        members.emplace_hint(members.end(), "is_time_frozen", count != 0 && zone->is_time_frozen);
        auto& subs = members.emplace_hint(members.end(), "sub_environments", json::array_t(count))->second.get_ref<json::array_t&>();
        // Pushed in reverse so the zones are visited in list order, depth first.
        for (std::size_t i = count; i-- > 0;) pending.emplace_back(zone->sub_environments[i].get(), &subs[i]);
    }
}

void Environment::write_json(TextWriter& out) const {
    check_text_depth(json_depth());
    write_json_unchecked(out);
}

void Environment::write_json_unchecked(TextWriter& out, const std::function<void(TextWriter&)>& root_member) const {
    // A zone's object is written up to its sub-zone list when the walk enters it and closed when the
    // walk leaves it, with the sub-zones in between: the same order as the members of to_json().
    // The writer's poll may run code that changes the world (a host's signal handler), so lists are
    // read by index against their current size, the walk owns a share of every zone on its path, and
    // every level the text opens is held to kMaxTextDepth as it is written (a zone `level` zones below
    // this one opens its object at 2 * level + 1, its arrays at + 2 and their items at + 3).
    const auto reach = [](const Environment& zone, std::size_t level, std::size_t depth) {
        if (depth > kMaxTextDepth) check_text_depth(std::max(depth, 2 * level + zone.json_depth()));
    };
    const auto open = [&out, &reach](const Environment& zone, std::size_t level) {
        reach(zone, level, 2 * level + 2);
        out.raw("{\"agents\":[");
        for (std::size_t i = 0; i < zone.agents.size(); ++i) {
            reach(zone, level, 2 * level + 3);
            if (i != 0) out.raw(',');
            zone.agents[i]->write_json(out);
            out.checkpoint();
        }
        out.raw("],\"charges\":[");
        for (std::size_t i = 0; i < zone.charges.size(); ++i) {
            reach(zone, level, 2 * level + 3);
            if (i != 0) out.raw(',');
            zone.charges[i].write_json(out);
            out.checkpoint();
        }
        out.raw("],\"id\":");
        out.string(zone.id);
        out.raw(",\"is_time_frozen\":");
        out.boolean(!zone.sub_environments.empty() && zone.is_time_frozen);
    };
    struct Step {
        std::shared_ptr<const Environment> zone;  // empty for this zone, which the caller keeps alive
        std::size_t next;
    };
    open(*this, 0);
    if (root_member) root_member(out);
    out.raw(",\"sub_environments\":[");
    std::vector<Step> path;
    path.push_back({nullptr, 0});
    while (!path.empty()) {
        Step& top = path.back();
        const Environment& zone = top.zone ? *top.zone : *this;
        if (top.next < zone.sub_environments.size()) {
            if (top.next != 0) out.raw(',');
            std::shared_ptr<const Environment> sub = zone.sub_environments[top.next++];
            open(*sub, path.size());
            out.raw(",\"sub_environments\":[");
            path.push_back({std::move(sub), 0});
        } else {
            out.raw("]}");
            path.pop_back();
        }
    }
}

std::size_t Environment::json_depth() const {
    // A zone L levels below this one is an object at depth 2L + 1 and its three arrays are at
    // 2L + 2; its charge and agent objects, whose members are all scalars, are at 2L + 3.
    std::size_t deepest = 0;
    std::size_t entries = 0;
    std::vector<std::pair<const Environment*, std::size_t>> pending{{this, 1}};
    while (!pending.empty()) {
        auto [zone, depth] = pending.back();
        pending.pop_back();
        entries += 1 + zone->charges.size() + zone->agents.size();
        if (entries > kMaxDocumentEntries) {
            throw std::length_error("the document of zone " + quote_name(id) + " would hold more than " +
                                    std::to_string(kMaxDocumentEntries) +
                                    " zones, charges and agents (a zone held in several places counts once per "
                                    "place), so it is refused before it is built");
        }
        const std::size_t lowest = depth + (zone->charges.empty() && zone->agents.empty() ? 1 : 2);
        if (lowest > deepest) deepest = lowest;
        for (const auto& sub : zone->sub_environments) pending.emplace_back(sub.get(), depth + 2);
    }
    return deepest;
}

void Environment::add_charge(Charge charge) {
    charges.push_back(std::move(charge));
    touch_charges();
}

void Environment::add_magician(std::shared_ptr<MagicianAgent> agent) {
    if (!agent) throw std::invalid_argument("add_magician: the agent is null");
    agents.push_back(std::move(agent));
}

void Environment::add_environment(std::shared_ptr<Environment> environment) {
    if (!environment) throw std::invalid_argument("add_environment: the zone is null");
    if (environment.get() == this || (places != 0 && environment->holds_in_subtree(this))) {
        throw std::invalid_argument("cannot add zone " + quote_name(environment->id) + " under zone " + quote_name(id) +
                                    ": it would close a cycle (" + quote_name(environment->id) +
                                    (environment.get() == this ? " is that zone itself)" : " already holds it)"));
    }
    sub_environments.push_back(environment);
    ++environment->places;
}

void Environment::remove_sub_environment(std::size_t index) {
    const auto place = sub_environments.begin() + static_cast<std::ptrdiff_t>(index);
    --(*place)->places;
    sub_environments.erase(place);
}

bool Environment::holds_in_subtree(const Environment* zone) const {
    // A zone may sit in several places; each is searched once.
    std::unordered_set<const Environment*> seen{this};
    std::vector<const Environment*> pending{this};
    while (!pending.empty()) {
        const Environment* current = pending.back();
        pending.pop_back();
        if (current == zone) return true;
        for (const auto& sub : current->sub_environments) {
            if (seen.insert(sub.get()).second) pending.push_back(sub.get());
        }
    }
    return false;
}

}  // namespace orv
