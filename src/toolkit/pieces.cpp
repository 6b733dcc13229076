// Pieces: zone paths worked out in one preorder walk that names each sub-zone as it enters it, and
// copies of the tray's agents put into a world.
#include "toolkit/pieces.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "toolkit/kinds.h"

namespace orv {

namespace {

constexpr std::size_t kShownPaths = 3;  // paths shown in a message about a path that names no zone

// Calls visit(index, zone, depth, part) for every zone in preorder, `part` being the zone's piece
// of its path ("room", or "room[2]" when siblings share the id); stops when it returns false.
template <typename Zone, typename Visit>
void walk_named(Zone& world, Visit visit) {
    struct Level {
        Zone* zone;
        std::size_t next;
        // For zones of several sub-zones: how many of them have each id, and how many were entered.
        std::unordered_map<std::string_view, std::pair<std::size_t, std::size_t>> ids;
    };
    const auto level_of = [](Zone& zone) {
        Level level{&zone, 0, {}};
        if (zone.sub_environments.size() > 1) {
            for (const auto& sub : zone.sub_environments) ++level.ids[sub->id].first;
        }
        return level;
    };
    std::size_t index = 0;
    if (!visit(index++, world, std::size_t{0}, std::string(world.id))) return;
    std::vector<Level> stack;
    stack.push_back(level_of(world));
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.zone->sub_environments.size()) {
            stack.pop_back();
            continue;
        }
        Zone& sub = *top.zone->sub_environments[top.next++];
        std::string part = sub.id;
        if (!top.ids.empty()) {
            auto& [count, entered] = top.ids[sub.id];
            ++entered;
            if (count > 1) part += "[" + std::to_string(entered) + "]";
        }
        if (!visit(index++, sub, stack.size(), std::move(part))) return;
        stack.push_back(level_of(sub));
    }
}

template <typename Zone>
std::vector<Zone*> preorder(Zone& world) {
    std::vector<Zone*> zones;
    std::vector<Zone*> stack{&world};
    while (!stack.empty()) {
        Zone* zone = stack.back();
        stack.pop_back();
        zones.push_back(zone);
        for (auto it = zone->sub_environments.rbegin(); it != zone->sub_environments.rend(); ++it) {
            stack.push_back(it->get());
        }
    }
    return zones;
}

}  // namespace

std::vector<const Environment*> zones_in_preorder(const Environment& world) { return preorder(world); }

std::vector<std::size_t> accepting_zones(const Environment& world, const Tray& tray) {
    if (tray.accepts) return *tray.accepts;
    std::vector<std::size_t> all(zones_in_preorder(world).size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    return all;
}

std::string zone_path(const Environment& world, std::size_t zone) {
    std::vector<std::string> parts;
    bool found = false;
    walk_named(world, [&](std::size_t index, const Environment&, std::size_t depth, std::string part) {
        parts.resize(depth);
        parts.push_back(std::move(part));
        found = index == zone;
        return !found;
    });
    if (!found) throw std::out_of_range("the world has no zone number " + std::to_string(zone));
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "/") + part;
    return text;
}

std::vector<std::string> zone_paths(const Environment& world, const std::vector<std::size_t>& zones) {
    std::vector<std::string> paths;
    paths.reserve(zones.size());
    std::vector<std::string> parts;
    walk_named(world, [&](std::size_t index, const Environment&, std::size_t depth, std::string part) {
        parts.resize(depth);
        parts.push_back(std::move(part));
        if (paths.size() < zones.size() && zones[paths.size()] == index) {
            std::string text;
            for (const std::string& p : parts) text += (text.empty() ? "" : "/") + p;
            paths.push_back(std::move(text));
        }
        return paths.size() < zones.size();
    });
    if (paths.size() < zones.size()) {
        throw std::out_of_range("the world has no zone number " + std::to_string(zones[paths.size()]));
    }
    return paths;
}

std::vector<std::string> accepted_paths(const Environment& world, const std::vector<std::size_t>& zones) {
    std::vector<std::string> paths = zone_paths(world, zones);
    bool plain = true;  // no id holds "/" or "[", so every path names one zone
    for (const Environment* zone : zones_in_preorder(world)) {
        plain = plain && zone->id.find_first_of("/[") == std::string::npos;
    }
    for (std::size_t i = 0; i < paths.size() && !plain; ++i) {
        const std::size_t named = zones_named(world, paths[i]).size();
        if (named == 1) continue;
        throw std::invalid_argument("the path \"" + paths[i] + "\" of a zone that accepts pieces names " +
                                    std::to_string(named) + " zones (ids that hold \"/\" or \"[\"), so the level "
                                    "could not be read back: give the zone or the other one another id");
    }
    return paths;
}

std::vector<std::size_t> zones_named(const Environment& world, std::string_view path) {
    // For each zone on the walk's path, the places in `path` where a prefix of it ends that names
    // that zone (several only when ids hold "/" or "[").
    std::vector<std::vector<std::size_t>> ends;
    std::vector<std::size_t> found;
    walk_named(world, [&](std::size_t index, const Environment&, std::size_t depth, const std::string& part) {
        ends.resize(depth + 1);
        std::vector<std::size_t>& here = ends[depth];
        here.clear();
        if (depth == 0) {
            if (path.substr(0, part.size()) == part) here.push_back(part.size());
        } else {
            for (std::size_t end : ends[depth - 1]) {
                if (end < path.size() && path[end] == '/' && path.substr(end + 1, part.size()) == part) {
                    here.push_back(end + 1 + part.size());
                }
            }
        }
        if (std::find(here.begin(), here.end(), path.size()) != here.end()) found.push_back(index);
        return true;
    });
    return found;
}

std::string zone_path_examples(const Environment& world) {
    std::vector<std::string> paths;
    std::vector<std::string> parts;
    std::size_t zones = 0;
    walk_named(world, [&](std::size_t, const Environment&, std::size_t depth, std::string part) {
        ++zones;
        if (paths.size() == kShownPaths) return true;
        parts.resize(depth);
        parts.push_back(std::move(part));
        std::string text;
        for (const std::string& p : parts) text += (text.empty() ? "" : "/") + p;
        paths.push_back("\"" + text + "\"");
        return true;
    });
    std::string shown;
    for (std::size_t i = 0; i < paths.size(); ++i) shown += (i ? ", " : "") + paths[i];
    if (zones > paths.size()) shown += " and " + std::to_string(zones - paths.size()) + " more";
    return shown;
}

std::shared_ptr<MagicianAgent> copy_agent(const MagicianAgent& agent) {
    const AgentKind* kind = kind_of(agent);
    if (kind == nullptr) throw std::invalid_argument("cannot copy the agent \"" + agent.name + "\": it is of no known kind");
    const char* rule = rule_of(agent);
    return kind->make(agent.visual_id, target_of(agent).value_or(0.0), rule ? rule : "");
}

void place_pieces(Environment& world, const Tray& tray, const Placement& placement) {
    if (placement.size() != tray.pieces.size()) {
        throw std::invalid_argument("a placement names a zone for each of the " + std::to_string(tray.pieces.size()) +
                                    " pieces, not " + std::to_string(placement.size()));
    }
    const std::vector<Environment*> zones = preorder(world);
    const std::vector<std::size_t> accepting = accepting_zones(world, tray);
    // Every zone is checked before any piece is put in, so a refused placement changes nothing.
    for (std::size_t i = 0; i < placement.size(); ++i) {
        const std::size_t zone = placement[i];
        if (zone >= zones.size()) {
            throw std::invalid_argument("piece " + std::to_string(i + 1) + " (" + piece_label(*tray.pieces[i]) +
                                        ") is placed into zone number " + std::to_string(zone) + ", but the world has " +
                                        std::to_string(zones.size()) + " zones");
        }
        if (!std::binary_search(accepting.begin(), accepting.end(), zone)) {
            throw std::invalid_argument("piece " + std::to_string(i + 1) + " (" + piece_label(*tray.pieces[i]) +
                                        ") is placed into zone " + zone_path(world, zone) +
                                        ", which does not accept pieces");
        }
    }
    for (std::size_t i = 0; i < placement.size(); ++i) zones[placement[i]]->add_magician(copy_agent(*tray.pieces[i]));
}

std::string piece_label(const MagicianAgent& piece) { return piece.name + " (" + piece.visual_id + ")"; }

std::string placement_line(const MagicianAgent& piece, const std::string& zone_path) {
    const bool named = piece.name.compare(0, 4, "The ") == 0;
    return std::string("put ") + (named ? "" : "the ") + piece_label(piece) + " into " + zone_path;
}

}  // namespace orv
