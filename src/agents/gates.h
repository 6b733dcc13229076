// Gates: agents that test their zone's total against a target and never change a charge.
// A gate opens (and leaves its zone) in the first frame its test holds.
#pragma once

#include <cstdint>

#include "model/agent.h"

namespace orv {

// Tolerance of the Equals Gate (strict <).
constexpr double kEqualsTolerance = 1e-6;

// Sum of the signed values of the charges, in list order from 0.0.
double zone_total(const std::vector<Charge>& charges);

class EqualsGate : public MagicianAgent {
public:
    EqualsGate(std::string visual_id, double target)
        : MagicianAgent("Equals Gate", 0, std::move(visual_id)), target_value(target) {}
    bool CastSpell(std::vector<Charge>& charges) override;
    nlohmann::json to_json() const override;
    void write_json(TextWriter& out) const override;

    double target_value;
    bool is_open = false;
};

class InequalityGate : public MagicianAgent {
public:
    enum ComparisonType : std::int32_t { LESS_THAN = 0, GREATER_THAN = 1, LESS_EQUAL = 2, GREATER_EQUAL = 3 };

    InequalityGate(std::string visual_id, double target, ComparisonType type)
        : MagicianAgent("The Judge", 0, std::move(visual_id)), comparison_type(type), target_value(target) {}
    bool CastSpell(std::vector<Charge>& charges) override;
    nlohmann::json to_json() const override;
    void write_json(TextWriter& out) const override;

    // The comparison a rule text names: "<=", ">=" and ">" exactly; every other text is LESS_THAN.
    static ComparisonType comparison_from_text(const std::string& text);
    // The rule's text in the JSON form: "<", ">", "<=" or ">=".
    const char* rule_text() const;

    ComparisonType comparison_type;
    double target_value;
    bool is_open = false;
};

}  // namespace orv
