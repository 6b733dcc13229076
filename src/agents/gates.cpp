// Gates: agents that test their zone's total against a target and never change a charge.
// The rule text of the Judge is both read (from the host) and written (in its JSON) here.
#include "agents/gates.h"

#include <cmath>
#include <iterator>

#include "model/json_release.h"

namespace orv {

namespace {

// "is_open" and "target_value", placed beside the base members that sort next to them
// ("is_open" before "name", "target_value" before "visual_id").
void add_gate_members(nlohmann::json& object, bool is_open, double target_value) {
    auto& members = object.get_ref<nlohmann::json::object_t&>();
    members.emplace_hint(members.begin(), "is_open", is_open);
    members.emplace_hint(std::prev(members.end()), "target_value", nlohmann::json::number_float_t{target_value});
}

}  // namespace

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
    try {
        add_gate_members(object, is_open, target_value);
    } catch (...) {
        release_flat(object);  // the library's destructor would allocate
        throw;
    }
    return object;
}

void EqualsGate::write_json(TextWriter& out) const { write_json_members(out, &is_open, nullptr, &target_value); }

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
    try {
        add_gate_members(object, is_open, target_value);
        object.get_ref<nlohmann::json::object_t&>().emplace("rule", rule_text());
    } catch (...) {
        release_flat(object);  // the library's destructor would allocate
        throw;
    }
    return object;
}

void InequalityGate::write_json(TextWriter& out) const { write_json_members(out, &is_open, rule_text(), &target_value); }

const char* InequalityGate::rule_text() const {
    return comparison_type == LESS_THAN      ? "<"
           : comparison_type == GREATER_THAN ? ">"
           : comparison_type == LESS_EQUAL   ? "<="
                                             : ">=";
}

InequalityGate::ComparisonType InequalityGate::comparison_from_text(const std::string& text) {
    if (text == "<=") return LESS_EQUAL;
    if (text == ">=") return GREATER_EQUAL;
    if (text == ">") return GREATER_THAN;
    return LESS_THAN;
}

}  // namespace orv
