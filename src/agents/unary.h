// Absolute value and factorial agents: act on single charges.
// The Purifier rewrites NEGATIVE charges in place; the Replicator replaces the last charge.
#pragma once

#include "model/agent.h"

namespace orv {

class AbsMagician : public MagicianAgent {
public:
    explicit AbsMagician(std::string visual_id) : MagicianAgent("The Purifier", 90, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

class FactorialMagician : public MagicianAgent {
public:
    explicit FactorialMagician(std::string visual_id)
        : MagicianAgent("The Replicator", 85, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

// floor(magnitude)! in double, factors in ascending order: 1 for a count of 0 or less,
// +inf from 171 on, NaN for NaN. The count stays a double, so no magnitude is out of range.
double factorial_of(double magnitude);

}  // namespace orv
