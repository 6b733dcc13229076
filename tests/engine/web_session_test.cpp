// The web build's session: levels read from text give the same reports as worlds built by hand,
// refusals name the fault and leave the loaded level in place, and a reset starts the run over.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "agents/gates.h"
#include "model/json_text.h"
#include "sequencer/sequencer.h"
#include "web/level_reader.h"
#include "web/web_session.h"
#include "worked_world.h"

namespace orv::web {
namespace {

const char* kLevel = R"({"format": 1, "title": "t", "world": {"id": "R",
  "agents": [{"name": "Equals Gate", "visual_id": "gate", "target_value": 5}],
  "sub_environments": [{"id": "S", "charges": [
      {"magnitude": 2, "polarity": "positive", "visual_id": "a"},
      {"magnitude": 3, "polarity": "positive", "visual_id": "b"}],
    "agents": [{"name": "plus", "visual_id": "p"}]}]}})";

std::string hand_built_report(int frames) {
    NarrativeSequencer sequencer(worked_world());
    std::string text;
    for (int i = 0; i < frames; ++i) {
        nlohmann::json report = sequencer.NextFrame();
        text = sequencer.report_text(report);
    }
    return text;
}

TEST(WebSession, ReportsAreThoseOfAHandBuiltWorld) {
    WebSession session;
    session.load(kLevel);
    for (int frame = 1; frame <= 5; ++frame) EXPECT_EQ(session.step(), hand_built_report(frame)) << frame;
    session.reset();
    EXPECT_EQ(session.step(), hand_built_report(1));
}

TEST(WebSession, RefusedLevelKeepsTheLoadedOne) {
    WebSession session;
    session.load(kLevel);
    session.step();
    const std::string world = session.world();
    EXPECT_THROW(session.load(R"({"id": "x", "agents": [{"name": "judge", "visual_id": "j", "target_value": 1}]})"),
                 LevelError);
    EXPECT_EQ(session.world(), world);  // neither replaced nor restarted
}

TEST(WebSession, CallsBeforeALevelAreRefused) {
    WebSession session;
    EXPECT_FALSE(session.loaded());
    EXPECT_THROW(session.step(), std::logic_error);
    EXPECT_THROW(session.world(), std::logic_error);
    EXPECT_THROW(session.reset(), std::logic_error);
    EXPECT_THROW(session.numbers(), std::logic_error);
}

// The numbers that a report writes as null come out exactly, in the order of zones in preorder.
TEST(WebSession, NumbersKeepNaNAndInfinitiesApart) {
    WebSession session;
    session.load(R"({"id": "R", "charges": [{"magnitude": null, "polarity": "positive", "visual_id": "n"}],
      "agents": [{"name": "judge", "visual_id": "j", "target_value": 0.1, "rule": "<"}],
      "sub_environments": [
        {"id": "A", "charges": [{"magnitude": 1e308, "polarity": "positive", "visual_id": "a"}],
         "agents": [{"name": "multiply", "visual_id": "m"}],
         "sub_environments": [{"id": "A1", "agents": [{"name": "equals", "visual_id": "e", "target_value": null}]}]},
        {"id": "B", "charges": [{"magnitude": 0.30000000000000004, "polarity": "negative", "visual_id": "b"},
                                {"magnitude": -2.5, "polarity": "neutral", "visual_id": "c"}]}]})");
    EXPECT_EQ(session.numbers(),
              R"({"magnitudes":["nan",1e+308,0.30000000000000004,-2.5],"targets":[0.1,"nan"]})");
    session.load(R"({"id": "R", "charges": [{"magnitude": 1e308, "polarity": "positive", "visual_id": "a"},
      {"magnitude": 1e308, "polarity": "negative", "visual_id": "b"}], "agents": [{"name": "multiply", "visual_id": "m"}]})");
    session.step();  // the product overflows: a negative charge of magnitude inf
    EXPECT_EQ(session.numbers(), R"({"magnitudes":["inf"],"targets":[]})");
}

struct Refusal {
    std::string level;
    const char* message;
};

class LevelReaderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(LevelReaderRefuses, NamingPathAndValue) {
    try {
        read_level(GetParam().level);
        FAIL() << "accepted " << GetParam().level;
    } catch (const LevelError& err) {
        EXPECT_NE(std::string(err.what()).find(GetParam().message), std::string::npos) << err.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LevelReaderRefuses,
    ::testing::Values(Refusal{"", "expected valid JSON"}, Refusal{"null", "(top level): expected a level object"},
                      Refusal{R"({"world": {"id": "r"}})", "format: expected the key \"format\""},
                      Refusal{R"({"format": 1, "world": {"id": "r"}, "x": 1})", "x: expected one of the keys"},
                      Refusal{R"({"id": "r", "charges": [1]})", "charges[0]: expected a charge object, found 1"},
                      Refusal{R"({"id": "r", "charges": {}})", "charges: expected a list, found an object"},
                      Refusal{R"({"id": "r", "agents": [{"name": "plus"}]})", "agents[0].visual_id: expected the key"},
                      Refusal{R"({"id": "r", "is_time_frozen": 1})", "is_time_frozen: expected true or false, found 1"},
                      Refusal{R"({"id": "r", "sub_environments": [{"id": "s", "agents": [{"name": "equals",
                              "visual_id": "g", "target_value": "5"}]}]})",
                              "sub_environments[0].agents[0].target_value: expected a number (or null for NaN), found \"5\""},
                      Refusal{"{\"id\": \"" + std::string(100, 'x') + "\", \"charges\": 7}", "found 7"},
                      Refusal{R"({"id": "r", "sub_environments": [{"id": "s", "id": "t"}]})",
                              "expected each key once in every object, found \"id\" twice"}));

TEST(LevelReader, NullMagnitudesAndTargetsAreNaN) {
    auto root = read_level(R"({"id": "r", "charges": [{"magnitude": null, "polarity": "neutral", "visual_id": "n"}],
                              "agents": [{"name": "judge", "visual_id": "j", "target_value": null, "rule": ">="}]})");
    ASSERT_EQ(root->charges.size(), 1u);
    EXPECT_TRUE(std::isnan(root->charges[0].magnitude));
    EXPECT_EQ(root->agents.at(0)->name, "The Judge");
    EXPECT_TRUE(std::isnan(static_cast<InequalityGate&>(*root->agents[0]).target_value));
}

TEST(LevelReader, DeepChainsAreBuiltWithoutRecursion) {
    const int depth = 20000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += R"({"id": "z", "sub_environments": [)";
    text += R"({"id": "leaf"})";
    for (int i = 0; i < depth; ++i) text += "]}";
    auto root = read_level(text);
    EXPECT_EQ(root->json_depth(), 2u * depth + 2);
}

}  // namespace
}  // namespace orv::web
