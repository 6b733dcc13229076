// MagicianAgent: the abstract base of every agent kind, and its frame-loop state.
// An agent lives in one zone's agent list and acts on that zone's charges through CastSpell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/charge.h"
#include "model/text_writer.h"

namespace orv {

enum class AgentState : std::int32_t { DORMANT = 0, ACTIVE = 1, FROZEN = 2 };

class MagicianAgent {
public:
    MagicianAgent(std::string name, int priority, std::string visual_id)
        : priority(priority), name(std::move(name)), visual_id(std::move(visual_id)) {}
    virtual ~MagicianAgent() = default;

    // True when the spell took effect. False leaves `charges` exactly as it was.
    virtual bool CastSpell(std::vector<Charge>& charges) = 0;

    // {"name", "priority", "state", "visual_id"}; the gates add members of their own. Every member
    // is a scalar: Environment::json_depth counts an agent's object as one level.
    virtual nlohmann::json to_json() const;
    // The text of to_json(), written straight into `out`. A kind that overrides to_json overrides
    // this too, so that both keep writing the same members.
    virtual void write_json(TextWriter& out) const;

    std::int32_t priority;
    std::string name;
    std::string visual_id;
    AgentState state = AgentState::DORMANT;

protected:
    // The base members with a gate's among them, in key order ("is_open" first, "rule" after
    // "priority", "target_value" before "visual_id"); a null pointer leaves its member out.
    void write_json_members(TextWriter& out, const bool* is_open, const char* rule, const double* target_value) const;
};

}  // namespace orv
