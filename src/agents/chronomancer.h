// Chronomancer: the time-keeper, the agent that never acts.
// Its highest priority and always-false spell keep its zone unresolved for good.
#pragma once

#include "model/agent.h"

namespace orv {

class Chronomancer : public MagicianAgent {
public:
    explicit Chronomancer(std::string visual_id) : MagicianAgent("Chronomancer", 100, std::move(visual_id)) {}
    // Always false, without reading or touching the list.
    bool CastSpell(std::vector<Charge>& charges) override;
};

}  // namespace orv
