// The thirteen agent kinds in one table: the word a level names a kind by, its class, the module
// method that adds one, whether it is a gate, how it is built, and its display name and priority.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "model/agent.h"

namespace orv {

struct AgentKind {
    std::string kind;         // the short word of level files: "plus", "judge"
    std::string class_name;   // the engine's class: "PlusMagician"
    std::string method;       // the orv_engine method that adds one: "add_plus_magician"
    bool gate = false;        // tests a target (and never changes a charge)
    bool takes_rule = false;  // the Judge: a target and a rule text
    // Builds one; `target` and `rule` are read by the kinds that take them.
    std::shared_ptr<MagicianAgent> (*make)(std::string visual_id, double target, const std::string& rule) = nullptr;
    // Makes `into`, an agent of this kind, again what `from`, another of this kind, is: for a caller
    // that runs one world many times and puts back the agents that acted without making them anew.
    void (*copy)(MagicianAgent& into, const MagicianAgent& from) = nullptr;
    const std::type_info* type = nullptr;  // the class of the agents `make` builds
    // Read from an agent that `make` built, so that they stand only in the agent classes.
    std::string name;  // the display name reports write: "Plus Magician"
    int priority = 0;
};

// The kinds in a fixed order: the arithmetic four, then power, root, abs, factorial, modulo, log,
// the Chronomancer, and the two gates.
const std::vector<AgentKind>& agent_kinds();

// The kind a level names by its short word or its display name; null when there is none.
const AgentKind* find_kind(std::string_view kind_or_name);

// The kind of a live agent (by its display name); null for an agent of no known kind.
const AgentKind* kind_of(const MagicianAgent& agent);

// A gate's target and a Judge's rule text ("<", ">", "<=", ">="); none and null for other agents.
std::optional<double> target_of(const MagicianAgent& agent);
const char* rule_of(const MagicianAgent& agent);

// The four rule texts that a Judge is built from in level files: "<", ">", "<=", ">=".
const std::vector<std::string>& judge_rules();

}  // namespace orv
