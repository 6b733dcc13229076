// Level reader of the web build: parses level text with the JSON library and builds the zones,
// charges and agents through the engine's own constructors, with an explicit stack for the tree.
#include "web/level_reader.h"

#include <cmath>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "agents/powers.h"
#include "agents/unary.h"

namespace orv::web {

namespace {

using json = nlohmann::json;
using AgentPtr = std::shared_ptr<MagicianAgent>;

struct Kind {
    const char* kind;
    const char* name;
    int priority;
    bool gate;
    AgentPtr (*make)(std::string visual_id, double target, const std::string& rule);
};

template <typename Agent>
AgentPtr plain(std::string visual_id, double, const std::string&) {
    return std::make_shared<Agent>(std::move(visual_id));
}

AgentPtr equals(std::string visual_id, double target, const std::string&) {
    return std::make_shared<EqualsGate>(std::move(visual_id), target);
}

AgentPtr judge(std::string visual_id, double target, const std::string& rule) {
    return std::make_shared<InequalityGate>(std::move(visual_id), target, InequalityGate::comparison_from_text(rule));
}

// The thirteen kinds: short kind, display name (as reports write it), priority.
const Kind kKinds[] = {
    {"plus", "Plus Magician", 10, false, plain<PlusMagician>},
    {"minus", "Minus Magician", 10, false, plain<MinusMagician>},
    {"multiply", "Multiply Magician", 50, false, plain<MultiplyMagician>},
    {"divide", "Divide Magician", 50, false, plain<DivideMagician>},
    {"power", "Power Sorcerer", 75, false, plain<PowerSorcerer>},
    {"root", "The Extractor", 75, false, plain<RootMagician>},
    {"abs", "The Purifier", 90, false, plain<AbsMagician>},
    {"factorial", "The Replicator", 85, false, plain<FactorialMagician>},
    {"modulo", "The Scavenger", 50, false, plain<ModuloMagician>},
    {"log", "The Architect", 90, false, plain<LogMagician>},
    {"chronomancer", "Chronomancer", 100, false, plain<Chronomancer>},
    {"equals", "Equals Gate", 0, true, equals},
    {"judge", "The Judge", 0, true, judge},
};

std::string at(const std::string& path, const std::string& key) { return path.empty() ? key : path + "." + key; }

// How a found value is named in messages: its JSON text, shortened.
std::string describe(const json& value) {
    if (value.is_object()) {
        if (value.empty()) return "an object";
        std::string keys;
        for (const auto& item : value.items()) keys += (keys.empty() ? "" : ", ") + item.key();
        return "an object with the keys " + keys;
    }
    if (value.is_array()) return "a list of " + std::to_string(value.size()) + (value.size() == 1 ? " item" : " items");
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    return text.size() <= 60 ? text : text.substr(0, 57) + "...";
}

// A fault found while reading one zone; `path` is relative to that zone until read_level prefixes
// the zone's own path (built only then, so a deep tree costs no path text per level).
struct Fault {
    std::string path, expected, found;
};

[[noreturn]] void fail(const std::string& path, const std::string& expected, const std::string& found) {
    throw Fault{path, expected, found};
}

std::string join(const std::string& base, const std::string& rest) {
    if (base.empty()) return rest;
    if (rest.empty()) return base;
    return base + (rest.front() == '[' ? "" : ".") + rest;
}

// Where each zone lies: its parent's entry and its index among the parent's sub-zones.
struct Place {
    std::size_t parent;
    std::size_t index;
};
constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);

std::string zone_path(const std::vector<Place>& places, std::size_t place, const std::string& base) {
    std::vector<std::size_t> indices;
    for (; places[place].parent != kNoParent; place = places[place].parent) indices.push_back(places[place].index);
    std::string path = base;
    for (auto i = indices.rbegin(); i != indices.rend(); ++i) path = join(path, "sub_environments[" + std::to_string(*i) + "]");
    return path;
}

struct Pending {
    const json* raw;
    std::size_t place;
    std::shared_ptr<Environment> zone;
};

void check_keys(const json& object, std::initializer_list<const char*> allowed, const std::string& path) {
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : allowed) known = known || item.key() == key;
        if (known) continue;
        std::string list;
        for (const char* key : allowed) list += (list.empty() ? "" : ", ") + std::string(key);
        fail(at(path, item.key()), "one of the keys " + list, "the unknown key \"" + item.key() + "\"");
    }
}

const json& require(const json& object, const char* key, const std::string& path) {
    auto found = object.find(key);
    if (found == object.end()) fail(at(path, key), std::string("the key \"") + key + "\"", "nothing");
    return *found;
}

std::string text(const json& value, const std::string& path) {
    if (!value.is_string()) fail(path, "a string", describe(value));
    return value.get<std::string>();
}

double number(const json& value, const std::string& path) {
    if (value.is_null()) return std::numeric_limits<double>::quiet_NaN();
    if (!value.is_number()) fail(path, "a number (or null for NaN)", describe(value));
    return value.get<double>();
}

const json& list(const json& zone, const char* key, const std::string& path) {
    static const json empty = json::array();
    auto found = zone.find(key);
    if (found == zone.end()) return empty;
    if (!found->is_array()) fail(at(path, key), "a list", describe(*found));
    return *found;
}

Charge read_charge(const json& raw, const std::string& path) {
    if (!raw.is_object()) fail(path, "a charge object", describe(raw));
    check_keys(raw, {"magnitude", "polarity", "visual_id"}, path);
    const double magnitude = number(require(raw, "magnitude", path), at(path, "magnitude"));
    const json& polarity = require(raw, "polarity", path);
    ChargePolarity value;
    if (polarity == "positive") {
        value = ChargePolarity::POSITIVE;
    } else if (polarity == "negative") {
        value = ChargePolarity::NEGATIVE;
    } else if (polarity == "neutral") {
        value = ChargePolarity::NEUTRAL;
    } else {
        fail(at(path, "polarity"), "\"positive\", \"negative\" or \"neutral\"", describe(polarity));
    }
    return Charge(magnitude, value, text(require(raw, "visual_id", path), at(path, "visual_id")));
}

AgentPtr read_agent(const json& raw, const std::string& path) {
    if (!raw.is_object()) fail(path, "an agent object", describe(raw));
    const Kind* kind = nullptr;
    auto name = raw.find("name");
    if (name != raw.end() && name->is_string()) {
        for (const Kind& k : kKinds) {
            if (*name == k.kind || *name == k.name) kind = &k;
        }
    }
    if (kind == nullptr) {
        std::string names, kinds;
        for (const Kind& k : kKinds) {
            names += (names.empty() ? "\"" : ", \"") + std::string(k.name) + "\"";
            kinds += (kinds.empty() ? "" : ", ") + std::string(k.kind);
        }
        fail(at(path, "name"), "an agent name (" + names + ") or kind (" + kinds + ")",
             name == raw.end() ? "nothing" : describe(*name));
    }
    const bool is_judge = std::string(kind->kind) == "judge";
    if (is_judge) {
        check_keys(raw, {"name", "visual_id", "priority", "state", "target_value", "is_open", "rule"}, path);
    } else if (kind->gate) {
        check_keys(raw, {"name", "visual_id", "priority", "state", "target_value", "is_open"}, path);
    } else {
        check_keys(raw, {"name", "visual_id", "priority", "state"}, path);
    }
    std::string visual_id = text(require(raw, "visual_id", path), at(path, "visual_id"));
    auto priority = raw.find("priority");
    if (priority != raw.end() && !(priority->is_number_integer() && priority->get<long long>() == kind->priority)) {
        fail(at(path, "priority"), std::to_string(kind->priority) + " (the priority of " + kind->name + ")",
             describe(*priority));
    }
    auto state = raw.find("state");
    if (state != raw.end() && !(*state == "dormant" || *state == "active" || *state == "frozen")) {
        fail(at(path, "state"), "\"dormant\", \"active\" or \"frozen\"", describe(*state));
    }
    auto open = raw.find("is_open");
    if (open != raw.end() && !open->is_boolean()) fail(at(path, "is_open"), "true or false", describe(*open));
    double target = 0.0;
    if (kind->gate) target = number(require(raw, "target_value", path), at(path, "target_value"));
    std::string rule;
    if (is_judge) {
        const json& value = require(raw, "rule", path);
        if (!(value == "<" || value == ">" || value == "<=" || value == ">=")) {
            fail(at(path, "rule"), "\"<\", \">\", \"<=\" or \">=\"", describe(value));
        }
        rule = value.get<std::string>();
    }
    return kind->make(std::move(visual_id), target, rule);
}

// Fills `zone` from its JSON and queues its sub-zones, already attached, for the same treatment.
// Fills `zone` from its JSON (paths in faults relative to it) and queues its sub-zones, already
// attached, for the same treatment.
void read_zone(const json& raw, Environment& zone, std::size_t place, std::vector<Place>& places,
               std::vector<Pending>& pending) {
    const json& charges = list(raw, "charges", "");
    for (std::size_t i = 0; i < charges.size(); ++i) {
        zone.add_charge(read_charge(charges[i], "charges[" + std::to_string(i) + "]"));
    }
    const json& agents = list(raw, "agents", "");
    for (std::size_t i = 0; i < agents.size(); ++i) {
        zone.add_magician(read_agent(agents[i], "agents[" + std::to_string(i) + "]"));
    }
    const json& subs = list(raw, "sub_environments", "");
    std::vector<std::shared_ptr<Environment>> children;
    for (std::size_t i = 0; i < subs.size(); ++i) {
        const std::string where = "sub_environments[" + std::to_string(i) + "]";
        if (!subs[i].is_object()) fail(where, "a zone object", describe(subs[i]));
        auto child = std::make_shared<Environment>(text(require(subs[i], "id", where), at(where, "id")));
        zone.add_environment(child);
        children.push_back(child);
    }
    // Pushed in reverse, so the zones are filled in list order.
    for (std::size_t i = subs.size(); i-- > 0;) {
        places.push_back({place, i});
        pending.push_back({&subs[i], places.size() - 1, children[i]});
    }
}

void check_zone(const json& raw, const std::string& path, bool top) {
    if (!raw.is_object()) fail(path, "a zone object", describe(raw));
    if (top) {
        check_keys(raw, {"id", "charges", "agents", "sub_environments", "is_time_frozen", "meta"}, path);
    } else {
        check_keys(raw, {"id", "charges", "agents", "sub_environments", "is_time_frozen"}, path);
    }
    text(require(raw, "id", path), at(path, "id"));
    auto frozen = raw.find("is_time_frozen");
    if (frozen != raw.end() && !frozen->is_boolean()) fail(at(path, "is_time_frozen"), "true or false", describe(*frozen));
}

}  // namespace

std::shared_ptr<Environment> read_level(const std::string& level_text) {
    // The parser keeps the last of a key written twice; the keys of every open object are noted,
    // so that such a level is refused as the toolkit refuses it.
    std::vector<std::set<std::string>> open_objects;
    std::string twice;
    const json::parser_callback_t note_keys = [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start) {
            open_objects.emplace_back();
        } else if (event == json::parse_event_t::object_end) {
            open_objects.pop_back();
        } else if (event == json::parse_event_t::key && !open_objects.back().insert(parsed.get<std::string>()).second &&
                   twice.empty()) {
            twice = parsed.get<std::string>();
        }
        return true;
    };
    json document;
    try {
        document = json::parse(level_text, note_keys);
    } catch (const json::parse_error& err) {
        throw LevelError(std::string("expected valid JSON: ") + err.what());
    }
    if (!twice.empty()) {
        throw LevelError("expected each key once in every object, found " + json(twice).dump(-1, ' ', false,
                         json::error_handler_t::replace) + " twice");
    }
    std::string base;
    std::vector<Place> places{{kNoParent, 0}};
    std::size_t place = 0;
    try {
        const json* world = &document;
        bool bare = true;
        if (!document.is_object()) fail("", "a level object, a zone or a frame report", describe(document));
        if (document.contains("format") || document.contains("world")) {
            check_keys(document, {"format", "title", "description", "world"}, "");
            const json& format = require(document, "format", "");
            if (!(format.is_number_integer() && format.get<long long>() == 1)) fail("format", "1", describe(format));
            for (const char* key : {"title", "description"}) {
                if (document.contains(key)) text(document[key], key);
            }
            world = &require(document, "world", "");
            base = "world";
            bare = false;
        }
        check_zone(*world, "", bare);
        auto root = std::make_shared<Environment>((*world)["id"].get<std::string>());
        std::vector<Pending> pending{{world, 0, root}};
        while (!pending.empty()) {
            Pending next = std::move(pending.back());
            pending.pop_back();
            place = next.place;
            check_zone(*next.raw, "", bare && next.raw == world);
            read_zone(*next.raw, *next.zone, next.place, places, pending);
            auto frozen = next.raw->find("is_time_frozen");
            if (frozen != next.raw->end()) next.zone->is_time_frozen = frozen->get<bool>();
        }
        return root;
    } catch (const Fault& fault) {
        const std::string path = join(zone_path(places, place, base), fault.path);
        throw LevelError((path.empty() ? std::string("(top level)") : path) + ": expected " + fault.expected +
                         ", found " + fault.found);
    }
}

}  // namespace orv::web
