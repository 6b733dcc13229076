// Gates: agents that test their zone's total against a target and never change a charge.
// The rule text of the Judge is both read (from the host) and written (in its JSON) here.
#include "agents/gates.h"

#include <cmath>

namespace orv {

double zone_total(const std::vector<Charge>& charges) {
    double total = 0.0;
    for (const Charge& charge : charges) total = total + signed_value(charge);
    return total;
}

bool EqualsGate::CastSpell(std::vector<Charge>& charges) {
    if (charges.empty()) return false;
    if (!(std::fabs(zone_total(charges) - target_value) < kEqualsTolerance)) return false;
    is_open = true;
    return true;
}

nlohmann::json EqualsGate::to_json() const {
    nlohmann::json object = MagicianAgent::to_json();
    object["is_open"] = is_open;
    object["target_value"] = nlohmann::json::number_float_t{target_value};
    return object;
}

bool InequalityGate::CastSpell(std::vector<Charge>& charges) {
    if (charges.empty()) return false;
    const double total = zone_total(charges);
    bool holds = false;
    switch (comparison_type) {
        case LESS_THAN: holds = total < target_value; break;
        case GREATER_THAN: holds = total > target_value; break;
        case LESS_EQUAL: holds = total <= target_value; break;
        case GREATER_EQUAL: holds = total >= target_value; break;
        default: holds = false; break;
    }
    if (!holds) return false;
    is_open = true;
    return true;
}

nlohmann::json InequalityGate::to_json() const {
    nlohmann::json object = MagicianAgent::to_json();
    object["is_open"] = is_open;
    object["target_value"] = nlohmann::json::number_float_t{target_value};
    const char* rule = comparison_type == LESS_THAN      ? "<"
                       : comparison_type == GREATER_THAN ? ">"
                       : comparison_type == LESS_EQUAL   ? "<="
                                                         : ">=";
    object["rule"] = rule;
    return object;
}

InequalityGate::ComparisonType InequalityGate::comparison_from_text(const std::string& text) {
    if (text == "<=") return LESS_EQUAL;
    if (text == ">=") return GREATER_EQUAL;
    if (text == ">") return GREATER_THAN;
    return LESS_THAN;
}

}  // namespace orv
