// Arithmetic agents: fold every charge of their zone into one result charge.
// Plus and Minus work on signed values; Multiply and Divide on stored magnitudes with a parity sign.
#pragma once

#include "model/agent.h"

namespace orv {

// Below this magnitude a divisor counts as zero and a product or quotient as neutral (strict <).
constexpr double kNearZero = 1e-9;

class PlusMagician : public MagicianAgent {
public:
    explicit PlusMagician(std::string visual_id) : MagicianAgent("Plus Magician", 10, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

class MinusMagician : public MagicianAgent {
public:
    explicit MinusMagician(std::string visual_id) : MagicianAgent("Minus Magician", 10, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

class MultiplyMagician : public MagicianAgent {
public:
    explicit MultiplyMagician(std::string visual_id)
        : MagicianAgent("Multiply Magician", 50, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

class DivideMagician : public MagicianAgent {
public:
    explicit DivideMagician(std::string visual_id) : MagicianAgent("Divide Magician", 50, std::move(visual_id)) {}
    bool CastSpell(std::vector<Charge>& charges) override;
};

}  // namespace orv
