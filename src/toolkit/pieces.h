// Pieces: the agents a puzzle leaves to the player (its tray), the zones that accept them, and
// placements (a zone for each piece) named by zone paths, checked and put into a world.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/environment.h"

namespace orv {

// Zones are numbered in the world's preorder (the root 0, then each sub-zone before its own
// sub-zones, in list order), so a world of any depth costs one number per zone.
struct Tray {
    // The pieces in list order: agents as the level reader built them, copied into each world
    // they are placed in and never run themselves.
    std::vector<std::shared_ptr<MagicianAgent>> pieces;
    // The zones that accept pieces, ascending; none when every zone does.
    std::optional<std::vector<std::size_t>> accepts;
};

// The zone of each piece, in the tray's order.
using Placement = std::vector<std::size_t>;

// The zones of `world` in preorder.
std::vector<const Environment*> zones_in_preorder(const Environment& world);

// The zones that accept pieces, ascending (every zone of the world when the tray names none).
std::vector<std::size_t> accepting_zones(const Environment& world, const Tray& tray);

// The path of zone `zone`: the ids from the root joined by "/", an id that several sub-zones of one
// zone share followed by its place among them from 1 ("hall/room[2]").
std::string zone_path(const Environment& world, std::size_t zone);

// The paths of `zones` (ascending zone numbers), all found in one walk of the world.
std::vector<std::string> zone_paths(const Environment& world, const std::vector<std::size_t>& zones);

// The paths of the accepting `zones` (ascending) as a level file lists them. Refuses
// (std::invalid_argument) a path that names another zone as well (ids that hold "/" or "["), which
// the level could not be read back with.
std::vector<std::string> accepted_paths(const Environment& world, const std::vector<std::size_t>& zones);

// The zones whose path is `path` (none, one, or several when ids hold "/" or "[").
std::vector<std::size_t> zones_named(const Environment& world, std::string_view path);

// How a message shows which paths name zones: the first few, quoted ("anvil", "anvil/bellows" ...).
std::string zone_path_examples(const Environment& world);

// A fresh agent like `agent`: the same kind, visual id, target and rule, dormant and closed.
std::shared_ptr<MagicianAgent> copy_agent(const MagicianAgent& agent);

// Puts a copy of each piece at the end of its zone's agents, pieces that share a zone in the
// tray's order. Refuses (std::invalid_argument) a placement of another length than the tray's, and
// a zone that the world does not have or that does not accept pieces.
void place_pieces(Environment& world, const Tray& tray, const Placement& placement);

// "Plus Magician (smith)"
std::string piece_label(const MagicianAgent& piece);
// "put the Plus Magician (smith) into anvil/bellows"; names that begin with "The" take no article.
std::string placement_line(const MagicianAgent& piece, const std::string& zone_path);

}  // namespace orv
