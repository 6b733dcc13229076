// Environment: a zone of the world, holding charges, agents and nested sub-zones.
// Zones and agents are shared-owned; every walk of the tree uses an explicit stack.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/agent.h"
#include "model/charge.h"
#include "model/json_release.h"
#include "model/text_writer.h"

namespace orv {

// Most zones, charges and agents that one document of a world may hold. A zone that sits in several
// places counts once per place, so a few zones shared at every level would otherwise ask for billions.
constexpr std::size_t kMaxDocumentEntries = 10'000'000;

class Environment {
public:
    explicit Environment(std::string id) : id(std::move(id)) {}
    // Releases long chains of sub-zones without recursing once per level.
    virtual ~Environment();

    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // The zone with its whole subtree: {"agents", "charges", "id", "is_time_frozen", "sub_environments"}.
    // Refuses (std::length_error) a subtree too large to write, before building anything.
    virtual nlohmann::json to_json() const;
    // The same, with `path` made ready (before anything is built) to release the document without
    // allocating. A failed build releases what it built before the exception leaves.
    nlohmann::json to_json(ReleasePath& path) const;

    // The text of to_json(), written straight into `out` from the zones, with the same refusals: the
    // size refusal of json_depth(), then check_text_depth on that depth. Nesting costs heap, not stack.
    void write_json(TextWriter& out) const;
    // Writes without the checks made before writing; the caller has made them. The depth is checked
    // again as the text is written, since the writer's poll may change the world: a level past
    // kMaxTextDepth ends the writing with check_text_depth's std::length_error. `root_member`, when
    // set, writes one more member of this zone's object, between "is_time_frozen" and
    // "sub_environments", starting with its separating comma.
    void write_json_unchecked(TextWriter& out, const std::function<void(TextWriter&)>& root_member = {}) const;

    virtual void add_charge(Charge charge);
    virtual void add_magician(std::shared_ptr<MagicianAgent> agent);
    // Refuses (std::invalid_argument) a null zone and a zone that would close a cycle:
    // the receiver itself, or a zone whose subtree already holds the receiver.
    virtual void add_environment(std::shared_ptr<Environment> environment);

    // How deeply the document of to_json() nests (what nesting_depth would find in it), worked out
    // from the zones alone, so the text writer's depth guard need not walk the document. The same
    // walk refuses (std::length_error), as soon as it passes the bound, a document that would hold
    // more than kMaxDocumentEntries zones, charges and agents.
    std::size_t json_depth() const;

    // Erases the sub-zone at `index`; the ones after it keep their order.
    void remove_sub_environment(std::size_t index);

    // True when `zone` is this zone or sits anywhere below it.
    bool holds_in_subtree(const Environment* zone) const;

    // Marks `charges` as changed as a list (grown, shrunk, replaced or rewritten by a spell),
    // so that handles taken on the old list can tell they are stale.
    void touch_charges() { ++charges_generation; }

    std::string id;
    std::vector<Charge> charges;
    std::vector<std::shared_ptr<MagicianAgent>> agents;
    std::vector<std::shared_ptr<Environment>> sub_environments;
    bool is_time_frozen = false;
    // Advanced by touch_charges(); only ever compared for equality.
    std::uint64_t charges_generation = 0;
    // How many sub_environments lists hold this zone (once per place), kept by add_environment,
    // remove_sub_environment and the release of a parent. A zone held nowhere cannot be inside
    // another zone's subtree, so adding a sub-zone to it needs no search for a cycle.
    std::size_t places = 0;

private:
    // Writes the document of to_json into `document`, a null value.
    void build_json(nlohmann::json& document) const;
    // Links the zones that a destructor is releasing; empty at all other times.
    std::shared_ptr<Environment> next_dying_;
};

}  // namespace orv
