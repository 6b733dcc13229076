// Very deep chains of zones: every walk, the JSON building and the release keep off the C stack.
#include <gtest/gtest.h>

#include <stdexcept>

#include "agents/arithmetic.h"
#include "model/json_text.h"
#include "sequencer/sequencer.h"

namespace orv {
namespace {

// z0 holding z1 holding ... z(count-1); the bottom zone holds `charges` charges and a Plus Magician.
std::vector<std::shared_ptr<Environment>> chain(int count, int charges) {
    std::vector<std::shared_ptr<Environment>> zones{std::make_shared<Environment>("z0")};
    for (int i = 1; i < count; ++i) {
        zones.push_back(std::make_shared<Environment>("z" + std::to_string(i)));
        zones[i - 1]->add_environment(zones[i]);
    }
    for (int i = 0; i < charges; ++i) zones.back()->add_charge(Charge(i + 1, ChargePolarity::POSITIVE, "c"));
    zones.back()->add_magician(std::make_shared<PlusMagician>("p"));
    return zones;
}

TEST(DeepTree, HundredThousandZonesStepBuildAndDieWithoutRecursion) {
    constexpr int kZones = 100000;
    std::vector<std::shared_ptr<Environment>> owners = chain(kZones, 2);
    std::vector<Environment*> zones;
    for (const auto& owner : owners) zones.push_back(owner.get());
    std::shared_ptr<Environment> root = owners[0], kept = owners[kZones / 2];
    owners.clear();  // from here on the chain owns its zones, except the two held above

    NarrativeSequencer sequencer(root);
    sequencer.update_freeze_states(root.get());
    EXPECT_TRUE(zones[kZones - 2]->is_time_frozen);  // only the bottom zone is unsettled
    EXPECT_FALSE(zones[kZones - 3]->is_time_frozen);
    std::vector<Candidate> candidates;
    sequencer.collect_agents(root.get(), candidates);
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0].second, zones.back());
    // Frame 1: the bottom Plus folds its two charges; then the bottom zone folds into its parent.
    EXPECT_EQ(sequencer.NextFrame()["meta"]["last_event"]["visual_id"], "p");
    ASSERT_TRUE(sequencer.check_and_collapse(root.get()));
    EXPECT_EQ(sequencer.last_event->description, "Zone z99999 has resolved and merged.");

    // z0 .. z99998 remain: each an object plus its sub-zone array, and the bottom one's charge object.
    const nlohmann::json document = root->to_json();
    EXPECT_EQ(nesting_depth(document), 2u * (kZones - 1) + 1);
    EXPECT_THROW(to_text(document), std::length_error);

    // A zone the host still holds keeps its whole subtree when the rest of the chain goes.
    std::weak_ptr<Environment> second = root->sub_environments[0];
    sequencer.root_environment.reset();
    root.reset();
    EXPECT_TRUE(second.expired());
    int below = 0;
    for (Environment* zone = kept.get(); !zone->sub_environments.empty(); zone = zone->sub_environments[0].get()) {
        ++below;
    }
    EXPECT_EQ(below, kZones - 2 - kZones / 2);
}

TEST(DeepTree, TwoThousandZonesSerialise) {
    std::string expected, closing;
    for (int i = 0; i < 1999; ++i) {
        expected += R"({"agents":[],"charges":[],"id":"z)" + std::to_string(i) + R"(","is_time_frozen":false,)"
                    R"("sub_environments":[)";
        closing += "]}";
    }
    expected += R"({"agents":[{"name":"Plus Magician","priority":10,"state":"dormant","visual_id":"p"}],)"
                R"("charges":[{"magnitude":1.0,"polarity":"positive","visual_id":"c"}],"id":"z1999",)"
                R"("is_time_frozen":false,"sub_environments":[]})" + closing;
    EXPECT_EQ(to_text(chain(2000, 1)[0]->to_json()), expected);
}

}  // namespace
}  // namespace orv
