// JSON forms of agents and zones (with their charges), the frame-event texts, and additions that would break the tree.
#include <gtest/gtest.h>

#include <stdexcept>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "agents/powers.h"
#include "agents/unary.h"
#include "model/environment.h"
#include "model/json_text.h"
#include "sequencer/frame_event.h"

namespace orv {
namespace {

using json = nlohmann::json;

std::string empty_zone(const std::string& id) {
    return R"({"agents":[],"charges":[],"id":")" + id + R"(","is_time_frozen":false,"sub_environments":[]})";
}

TEST(ModelJson, AgentsWriteTheBaseFormWithTheirKindsNameAndPriority) {
    const std::pair<std::shared_ptr<MagicianAgent>, std::string> kinds[] = {
        {std::make_shared<Chronomancer>("v"), R"("name":"Chronomancer","priority":100)"},
        {std::make_shared<AbsMagician>("v"), R"("name":"The Purifier","priority":90)"},
        {std::make_shared<LogMagician>("v"), R"("name":"The Architect","priority":90)"},
        {std::make_shared<FactorialMagician>("v"), R"("name":"The Replicator","priority":85)"},
        {std::make_shared<PowerSorcerer>("v"), R"("name":"Power Sorcerer","priority":75)"},
        {std::make_shared<RootMagician>("v"), R"("name":"The Extractor","priority":75)"},
        {std::make_shared<MultiplyMagician>("v"), R"("name":"Multiply Magician","priority":50)"},
        {std::make_shared<DivideMagician>("v"), R"("name":"Divide Magician","priority":50)"},
        {std::make_shared<ModuloMagician>("v"), R"("name":"The Scavenger","priority":50)"},
        {std::make_shared<PlusMagician>("v"), R"("name":"Plus Magician","priority":10)"},
        {std::make_shared<MinusMagician>("v"), R"("name":"Minus Magician","priority":10)"},
    };
    for (const auto& [agent, fields] : kinds) {
        EXPECT_EQ(to_text(agent->to_json()), "{" + fields + R"(,"state":"dormant","visual_id":"v"})");
    }
    PlusMagician agent("");
    agent.state = AgentState::ACTIVE;
    EXPECT_EQ(agent.to_json(),
              json({{"name", "Plus Magician"}, {"priority", 10}, {"state", "active"}, {"visual_id", ""}}));
    agent.state = AgentState::FROZEN;
    EXPECT_EQ(agent.to_json()["state"], "frozen");
}

TEST(ModelJson, GatesAddTargetOpenFlagAndRule) {
    EXPECT_EQ(to_text(EqualsGate("g", 10).to_json()), R"({"is_open":false,"name":"Equals Gate","priority":0,)"
                                                      R"("state":"dormant","target_value":10.0,"visual_id":"g"})");
    InequalityGate judge("j", -1.5, InequalityGate::comparison_from_text(">="));
    judge.is_open = true;
    EXPECT_EQ(to_text(judge.to_json()), R"({"is_open":true,"name":"The Judge","priority":0,"rule":">=",)"
                                        R"("state":"dormant","target_value":-1.5,"visual_id":"j"})");
    // Only the three exact texts name another relation than "<".
    const std::pair<const char*, const char*> rules[] = {{"<=", "<="}, {">=", ">="}, {">", ">"}, {"<", "<"},
                                                         {"", "<"},    {"=>", "<"},  {">>", "<"}, {"<= ", "<"}};
    for (const auto& [given, rule] : rules) {
        EXPECT_EQ(InequalityGate("j", 0, InequalityGate::comparison_from_text(given)).to_json()["rule"], rule) << given;
    }
    EXPECT_EQ(InequalityGate("j", 0, static_cast<InequalityGate::ComparisonType>(9)).to_json()["rule"], ">=");
}

TEST(ModelJson, SixFrameEventTexts) {
    const std::pair<const char*, const char*> events[] = {
        {ORV_FRAME_EVENT_CAST_SPELL, "CAST_SPELL"}, {ORV_FRAME_EVENT_COLLAPSE_ZONE, "COLLAPSE_ZONE"},
        {ORV_FRAME_EVENT_LEVEL_COMPLETE, "LEVEL_COMPLETE"}, {ORV_FRAME_EVENT_ERROR, "ERROR"},
        {ORV_FRAME_EVENT_FINISHED, "FINISHED"}, {ORV_FRAME_EVENT_RUNNING, "RUNNING"}};
    for (const auto& [constant, text] : events) EXPECT_STREQ(constant, text);
}

TEST(ModelJson, ZonesNestWithSortedKeysAndAgentsInAddedOrder) {
    auto root = std::make_shared<Environment>("R");
    EXPECT_EQ(to_text(root->to_json()), empty_zone("R"));
    auto child = std::make_shared<Environment>("C");
    child->add_environment(std::make_shared<Environment>("G"));
    child->add_charge(Charge(NAN, ChargePolarity::NEUTRAL, ""));
    root->add_environment(child);
    root->add_magician(std::make_shared<PlusMagician>("p"));
    root->add_magician(std::make_shared<Chronomancer>("t"));
    EXPECT_EQ(to_text(root->to_json()),
              R"({"agents":[{"name":"Plus Magician","priority":10,"state":"dormant","visual_id":"p"},)"
              R"({"name":"Chronomancer","priority":100,"state":"dormant","visual_id":"t"}],"charges":[],"id":"R",)"
              R"("is_time_frozen":false,"sub_environments":[{"agents":[],"charges":[{"magnitude":null,)"
              R"("polarity":"neutral","visual_id":""}],"id":"C","is_time_frozen":false,"sub_environments":[)" +
                  empty_zone("G") + "]}]}");
}

TEST(ModelJson, FrozenIsReportedOnlyForAZoneWithSubZones) {
    for (const bool has_sub : {false, true}) {
        for (const bool flag : {false, true}) {
            Environment zone("z");
            if (has_sub) zone.add_environment(std::make_shared<Environment>("s"));
            zone.is_time_frozen = flag;
            EXPECT_EQ(zone.to_json()["is_time_frozen"], has_sub && flag) << has_sub << flag;
        }
    }
}

TEST(ModelJson, SharedAndRepeatedSubZonesShowInEveryPlace) {
    auto shared = std::make_shared<Environment>("S");
    auto a = std::make_shared<Environment>("A");
    auto b = std::make_shared<Environment>("B");
    a->add_environment(shared);
    a->add_environment(shared);
    b->add_environment(shared);
    shared->add_charge(Charge(2, ChargePolarity::POSITIVE, "s"));  // after adding: both parents see it
    const json expected = shared->to_json();
    EXPECT_EQ(a->to_json()["sub_environments"], json::array({expected, expected}));
    EXPECT_EQ(b->to_json()["sub_environments"], json::array({expected}));
}

TEST(ModelJson, AddingRefusesNullAndCyclesNamingBothZones) {
    auto root = std::make_shared<Environment>("root");
    auto mid = std::make_shared<Environment>("mid");
    auto leaf = std::make_shared<Environment>("leaf");
    root->add_environment(mid);
    mid->add_environment(leaf);
    root->add_environment(leaf);  // a second place for the same zone is not a cycle
    EXPECT_THROW(root->add_environment(nullptr), std::invalid_argument);
    EXPECT_THROW(root->add_magician(nullptr), std::invalid_argument);
    const std::pair<Environment*, std::shared_ptr<Environment>> cycles[] = {{leaf.get(), root}, {mid.get(), mid}};
    for (const auto& [receiver, added] : cycles) {
        try {
            receiver->add_environment(added);
            ADD_FAILURE() << added->id << " under " << receiver->id << " was accepted";
        } catch (const std::invalid_argument& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find('"' + added->id + '"'), std::string::npos) << message;
            EXPECT_NE(message.find('"' + receiver->id + '"'), std::string::npos) << message;
        }
    }
    EXPECT_EQ(leaf->sub_environments.size() + mid->sub_environments.size() + root->sub_environments.size(), 3u);
}

TEST(ModelJson, PlacesFollowAddsRemovalsAndReleases) {
    auto outer = std::make_shared<Environment>("outer");
    auto inner = std::make_shared<Environment>("inner");
    {
        auto parent = std::make_shared<Environment>("parent");
        parent->add_environment(outer);
        parent->add_environment(outer);
        outer->add_environment(inner);
        EXPECT_EQ(outer->places, 2u);
        parent->remove_sub_environment(0);
        EXPECT_EQ(outer->places, 1u);
        EXPECT_THROW(inner->add_environment(outer), std::invalid_argument);  // inner sits inside outer
    }
    EXPECT_EQ(outer->places, 0u);  // its last parent is gone, so it sits nowhere
    EXPECT_EQ(inner->places, 1u);
    EXPECT_THROW(inner->add_environment(outer), std::invalid_argument);  // still a cycle: the search runs
}

}  // namespace
}  // namespace orv
