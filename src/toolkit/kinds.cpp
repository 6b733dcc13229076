// The table of agent kinds. Names and priorities are taken from agents built once, at first use,
// so that the agent classes remain the one place that fixes them.
#include "toolkit/kinds.h"

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "agents/powers.h"
#include "agents/unary.h"

namespace orv {

namespace {

template <typename Agent>
std::shared_ptr<MagicianAgent> plain(std::string visual_id, double, const std::string&) {
    return std::make_shared<Agent>(std::move(visual_id));
}

template <typename Agent>
void copy_as(MagicianAgent& into, const MagicianAgent& from) {
    static_cast<Agent&>(into) = static_cast<const Agent&>(from);
}

std::shared_ptr<MagicianAgent> equals(std::string visual_id, double target, const std::string&) {
    return std::make_shared<EqualsGate>(std::move(visual_id), target);
}

std::shared_ptr<MagicianAgent> judge(std::string visual_id, double target, const std::string& rule) {
    return std::make_shared<InequalityGate>(std::move(visual_id), target, InequalityGate::comparison_from_text(rule));
}

// The entry of a kind whose agents are of class `Agent`, built by `make`.
template <typename Agent>
AgentKind entry(const char* word, const char* class_name, const char* method, bool gate, bool takes_rule,
                decltype(AgentKind::make) make = plain<Agent>) {
    AgentKind kind;
    kind.kind = word;
    kind.class_name = class_name;
    kind.method = method;
    kind.gate = gate;
    kind.takes_rule = takes_rule;
    kind.make = make;
    kind.copy = copy_as<Agent>;
    kind.type = &typeid(Agent);
    return kind;
}

std::vector<AgentKind> make_table() {
    std::vector<AgentKind> kinds = {
        entry<PlusMagician>("plus", "PlusMagician", "add_plus_magician", false, false),
        entry<MinusMagician>("minus", "MinusMagician", "add_minus_magician", false, false),
        entry<MultiplyMagician>("multiply", "MultiplyMagician", "add_multiply_magician", false, false),
        entry<DivideMagician>("divide", "DivideMagician", "add_divide_magician", false, false),
        entry<PowerSorcerer>("power", "PowerSorcerer", "add_power_sorcerer", false, false),
        entry<RootMagician>("root", "RootMagician", "add_root_magician", false, false),
        entry<AbsMagician>("abs", "AbsMagician", "add_abs_magician", false, false),
        entry<FactorialMagician>("factorial", "FactorialMagician", "add_factorial_magician", false, false),
        entry<ModuloMagician>("modulo", "ModuloMagician", "add_modulo_magician", false, false),
        entry<LogMagician>("log", "LogMagician", "add_log_magician", false, false),
        entry<Chronomancer>("chronomancer", "Chronomancer", "add_chronomancer", false, false),
        entry<EqualsGate>("equals", "EqualsGate", "add_equals_gate", true, false, equals),
        entry<InequalityGate>("judge", "InequalityGate", "add_inequality_gate", true, true, judge),
    };
    for (AgentKind& kind : kinds) {
        const auto sample = kind.make("", 0.0, "<");
        kind.name = sample->name;
        kind.priority = sample->priority;
    }
    return kinds;
}

}  // namespace

const std::vector<AgentKind>& agent_kinds() {
    static const std::vector<AgentKind> table = make_table();
    return table;
}

const AgentKind* find_kind(std::string_view kind_or_name) {
    for (const AgentKind& kind : agent_kinds()) {
        if (kind_or_name == kind.kind || kind_or_name == kind.name) return &kind;
    }
    return nullptr;
}

const AgentKind* kind_of(const MagicianAgent& agent) {
    // The kind built of the agent's very class first (the same class seen from another library
    // has another type_info): it is that kind unless the agent's name was changed.
    const std::type_info* type = &typeid(agent);
    for (const AgentKind& kind : agent_kinds()) {
        if (type == kind.type && agent.name == kind.name) return &kind;
    }
    for (const AgentKind& kind : agent_kinds()) {
        if (agent.name == kind.name) return &kind;
    }
    return nullptr;
}

std::optional<double> target_of(const MagicianAgent& agent) {
    if (const auto* gate = dynamic_cast<const EqualsGate*>(&agent)) return gate->target_value;
    if (const auto* judge = dynamic_cast<const InequalityGate*>(&agent)) return judge->target_value;
    return std::nullopt;
}

const char* rule_of(const MagicianAgent& agent) {
    const auto* judge = dynamic_cast<const InequalityGate*>(&agent);
    return judge ? judge->rule_text() : nullptr;
}

const std::vector<std::string>& judge_rules() {
    static const std::vector<std::string> rules = {"<", ">", "<=", ">="};
    return rules;
}

}  // namespace orv
