// The frame loop: who is offered the turn, freezing and folding of zones, frame outcomes and report text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "agents/powers.h"
#include "agents/unary.h"
#include "model/json_text.h"
#include "sequencer/sequencer.h"
#include "toolkit/kinds.h"
#include "toolkit/pieces.h"

namespace orv {
namespace {

using json = nlohmann::json;
using Ids = std::vector<std::string>;

// A zone holding a Plus Magician per agent id and a POSITIVE 1 per charge id.
std::shared_ptr<Environment> zone(const std::string& id, const Ids& agents = {}, const Ids& charges = {}) {
    auto env = std::make_shared<Environment>(id);
    for (const auto& visual : agents) env->add_magician(std::make_shared<PlusMagician>(visual));
    for (const auto& visual : charges) env->add_charge(Charge(1, ChargePolarity::POSITIVE, visual));
    return env;
}

Ids charge_ids(const Environment& env) {
    Ids out;
    for (const Charge& charge : env.charges) out.push_back(charge.visual_id);
    return out;
}

Ids collected(NarrativeSequencer& sequencer) {
    std::vector<Candidate> out;
    sequencer.collect_agents(sequencer.root_environment.get(), out);
    Ids ids;
    for (const auto& [agent, env] : out) ids.push_back(env->id + ":" + agent->visual_id);
    return ids;
}

TEST(Sequencer, CollectsInPostOrderAndFrozenZonesHideOnlyTheirOwnAgents) {
    auto root = zone("R", {"r"});
    auto a = zone("A", {"a"}, {"x", "y"});
    auto a1 = zone("A1", {"a1", "a1b"});
    a->add_environment(a1);
    root->add_environment(a);
    root->add_environment(zone("B", {"b"}));
    NarrativeSequencer sequencer(root);
    EXPECT_EQ(collected(sequencer), (Ids{"A1:a1", "A1:a1b", "A:a", "B:b", "R:r"}));
    sequencer.update_freeze_states(root.get());
    EXPECT_TRUE(root->is_time_frozen && a->is_time_frozen);
    EXPECT_FALSE(a1->is_time_frozen);
    EXPECT_EQ(collected(sequencer), (Ids{"A1:a1", "A1:a1b", "B:b"}));
}

TEST(Sequencer, EqualPrioritiesKeepCollectionOrderAcrossZones) {
    // Enough candidates, other priorities mixed in, that an unstable sort would reorder them.
    auto root = zone("R");
    Ids expected, acted;
    for (int i = 0; i < 40; ++i) {
        expected.push_back("p" + std::to_string(i));
        auto sub = zone("z" + std::to_string(i), {expected.back()}, {"x", "y"});
        if (i % 3 == 0) sub->add_magician(std::make_shared<Chronomancer>("t"));
        root->add_environment(sub);
    }
    NarrativeSequencer sequencer(root);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        acted.push_back(sequencer.NextFrame()["meta"]["last_event"]["visual_id"]);
    }
    EXPECT_EQ(acted, expected);
}

// The agent a frame should let act: every candidate in a stable priority order, each tried on a copy
// of its zone's charges by a copy of itself, the first that casts.
std::shared_ptr<MagicianAgent> expected_caster(NarrativeSequencer& sequencer) {
    sequencer.update_freeze_states(sequencer.root_environment.get());
    std::vector<Candidate> list;
    sequencer.collect_agents(sequencer.root_environment.get(), list);
    std::stable_sort(list.begin(), list.end(),
                     [](const Candidate& a, const Candidate& b) { return a.first->priority > b.first->priority; });
    for (const auto& [agent, zone] : list) {
        std::vector<Charge> charges = zone->charges;
        if (copy_agent(*agent)->CastSpell(charges)) return agent;
    }
    return nullptr;
}

TEST(Sequencer, LongListsActInTheOrderOfAStablePrioritySort) {
    // Crowds of every kind over a few zones, with the kinds' own priorities (few, counted out) or
    // with up to 60 priorities of their own (sorted), run to the end; the same runs without events.
    std::mt19937 random(7);
    const auto& kinds = agent_kinds();
    int casts = 0;
    for (int world = 0; world < 60; ++world) {
        const int spread = world % 3 == 0 ? 60 : 0;
        auto root = zone("R", {}, {"r"});
        for (int z = 0; z < 4; ++z) {
            auto sub = zone("z" + std::to_string(z), {}, {"a", "b", "c"});
            sub->add_charge(Charge(static_cast<double>(random() % 9) - 4, ChargePolarity::NEGATIVE, "n"));
            for (int a = 0; a < 12; ++a) {
                const AgentKind& kind = kinds[random() % kinds.size()];
                auto agent = kind.make("v" + std::to_string(z) + "_" + std::to_string(a), random() % 7, ">=");
                if (spread) agent->priority = static_cast<std::int32_t>(random() % spread);
                sub->add_magician(agent);
            }
            root->add_environment(sub);
        }
        NarrativeSequencer sequencer(root);
        sequencer.tells_events = world % 2 == 0;
        while (!sequencer.is_finished) {
            const std::shared_ptr<MagicianAgent> expected = expected_caster(sequencer);
            const std::int32_t before = sequencer.current_frame;
            const std::string status = sequencer.run_frame().status;
            ASSERT_EQ(sequencer.current_frame, before + 1);
            if (sequencer.last_record.action != FrameRecord::Action::CAST) {
                ASSERT_EQ(expected, nullptr) << "world " << world << " frame " << sequencer.current_frame;
                continue;
            }
            ASSERT_NE(expected, nullptr) << "world " << world << " frame " << sequencer.current_frame;
            EXPECT_EQ(expected->state, AgentState::ACTIVE) << "world " << world;
            EXPECT_EQ(sequencer.last_event.has_value(), sequencer.tells_events);
            if (sequencer.last_event) {
                EXPECT_EQ(sequencer.last_event->visual_id, expected->visual_id);
            }
            ++casts;
        }
    }
    EXPECT_GT(casts, 1000);
}

// The flips a frame should note: every zone whose flag the frame's start changes, with its path,
// sub-zones first (worked out from the world before the frame, the zones' own paths in full).
std::vector<std::pair<ZonePath, bool>> expected_flips(const Environment& root) {
    std::vector<std::pair<ZonePath, bool>> flips;
    std::vector<std::pair<const Environment*, ZonePath>> stack{{&root, {}}};
    std::vector<std::pair<const Environment*, ZonePath>> order;
    while (!stack.empty()) {  // preorder with sub-zones in reverse, read backwards: post-order
        auto [zone, path] = stack.back();
        stack.pop_back();
        for (std::size_t i = 0; i < zone->sub_environments.size(); ++i) {
            ZonePath below = path;
            below.push_back(i);
            stack.emplace_back(zone->sub_environments[i].get(), below);
        }
        order.emplace_back(zone, path);
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        bool frozen = false;
        for (const auto& sub : it->first->sub_environments) frozen = frozen || !sub->agents.empty() || sub->charges.size() >= 2;
        if (frozen != it->first->is_time_frozen) flips.emplace_back(it->second, frozen);
    }
    return flips;
}

TEST(Sequencer, FlipsAreNotedByTheirPathsInRoomOfTheWorldsSize) {
    std::mt19937 random(11);
    for (int world = 0; world < 200; ++world) {
        auto root = zone("R", {}, {"r"});
        std::vector<std::shared_ptr<Environment>> zones{root};
        for (int z = 0; z < 30; ++z) {
            auto sub = zone("z" + std::to_string(z), random() % 3 ? Ids{} : Ids{"p"}, random() % 2 ? Ids{"a"} : Ids{"a", "b"});
            zones[random() % zones.size()]->add_environment(sub);
            zones.push_back(sub);
        }
        NarrativeSequencer sequencer(root);
        while (!sequencer.is_finished) {
            const auto expected = expected_flips(*root);
            sequencer.run_frame();
            std::vector<std::pair<ZonePath, bool>> noted;
            sequencer.last_record.each_flip([&](const ZonePath& path, std::size_t, bool to) { noted.emplace_back(path, to); });
            ASSERT_EQ(noted, expected) << "world " << world << " frame " << sequencer.current_frame;
        }
    }
    // Every zone of a chain of 50,000 flips in frame 1: the record holds a step or two for each.
    auto chain = zone("c0", {"p"}, {"x"});
    Environment* end = chain.get();
    for (int z = 1; z < 50000; ++z) {
        auto next = zone("c" + std::to_string(z), {"p"}, {"x"});
        end->add_environment(next);
        end = next.get();
    }
    NarrativeSequencer sequencer(chain);
    sequencer.run_frame();
    EXPECT_EQ(sequencer.last_record.flips.size(), 49999u);
    EXPECT_LT(sequencer.last_record.flip_steps.size(), 100000u);
    std::size_t deepest = 0, last = 1;
    sequencer.last_record.each_flip([&](const ZonePath& path, std::size_t, bool) {
        deepest = std::max(deepest, path.size());
        last = path.size();
    });
    EXPECT_EQ(deepest, 49998u);
    EXPECT_EQ(last, 0u);
}

TEST(Sequencer, ZonesCollapseFromTheBottomUpOnePerFrame) {
    auto root = zone("R", {}, {"r"});
    auto a = zone("A", {}, {"a"});
    a->add_environment(zone("A1", {}, {"a1"}));
    root->add_environment(a);
    root->add_environment(zone("E"));
    root->add_environment(zone("B", {}, {"b"}));
    NarrativeSequencer sequencer(root);
    const std::pair<const char*, const char*> frames[] = {{"shield_A1", "Zone A1 has resolved and merged."},
                                                          {"shield_B", "Zone B has resolved and merged."},
                                                          {"N/A", "Equation Resolved."}};
    for (const auto& [visual_id, message] : frames) {
        const json meta = sequencer.NextFrame()["meta"];
        EXPECT_EQ(meta["message"], message);
        EXPECT_EQ(meta["last_event"]["visual_id"], visual_id);
    }
    EXPECT_EQ(charge_ids(*a), (Ids{"a", "a1"}));
    EXPECT_EQ(charge_ids(*root), (Ids{"r", "b"}));
    ASSERT_EQ(root->sub_environments.size(), 2u);  // A, unsettled with two charges, and the empty E
    EXPECT_EQ(root->sub_environments[1]->id, "E");
    EXPECT_TRUE(root->is_time_frozen);
    EXPECT_FALSE(a->is_time_frozen);
}

TEST(Sequencer, ACollapsingZoneTakesItsEmptySubZoneWithItAndEmptyZonesStay) {
    auto root = zone("R");
    auto c = zone("C", {}, {"c"});
    c->add_environment(zone("E"));
    std::weak_ptr<Environment> empty = c->sub_environments[0], folded = c;
    root->add_environment(std::move(c));
    NarrativeSequencer sequencer(root);
    ASSERT_TRUE(sequencer.check_and_collapse(root.get()));
    EXPECT_EQ(sequencer.last_event->agent_name + " " + sequencer.last_event->type, "Chronomancer COLLAPSE_ZONE");
    EXPECT_TRUE(root->sub_environments.empty() && folded.expired() && empty.expired());
    EXPECT_EQ(charge_ids(*root), (Ids{"c"}));
    root->add_environment(zone("E2"));  // an empty zone neither freezes its parent nor collapses
    sequencer.update_freeze_states(root.get());
    EXPECT_FALSE(root->is_time_frozen || sequencer.check_and_collapse(root.get()));
    EXPECT_EQ(root->sub_environments.size(), 1u);
}

TEST(Sequencer, TriedAgentsEndDormantTheCasterActiveAndGoneTheRestUntouched) {
    auto root = zone("R", {}, {"c"});
    auto keeper = std::make_shared<Chronomancer>("t");
    auto log = std::make_shared<LogMagician>("l");
    auto factorial = std::make_shared<FactorialMagician>("f");
    for (const std::shared_ptr<MagicianAgent>& agent : {std::shared_ptr<MagicianAgent>(factorial), {log}, {keeper}}) {
        agent->state = AgentState::FROZEN;  // no frame writes FROZEN, so it marks "never offered the turn"
        root->add_magician(agent);
    }
    NarrativeSequencer sequencer(root);
    EXPECT_THROW(NarrativeSequencer(nullptr), std::invalid_argument);
    EXPECT_FALSE(sequencer.last_event || sequencer.is_finished || sequencer.current_frame);
    const json meta = sequencer.NextFrame()["meta"];
    EXPECT_EQ(keeper->state, AgentState::DORMANT);
    EXPECT_EQ(log->state, AgentState::ACTIVE);
    EXPECT_EQ(factorial->state, AgentState::FROZEN);
    EXPECT_EQ(root->agents, (std::vector<std::shared_ptr<MagicianAgent>>{factorial, keeper}));
    const char* said = "The Architect executed operation in R";
    EXPECT_EQ(meta, json({{"frame_index", 1}, {"status", "RUNNING"}, {"message", said},
                          {"last_event", {{"agent_name", "The Architect"}, {"visual_id", "l"}, {"type", "CAST_SPELL"},
                                          {"description", said}}}}));
}

// A root holding one charge and that many Purifiers: in each frame one of them acts and leaves.
class FrameLimit : public testing::TestWithParam<int> {};

TEST_P(FrameLimit, ThousandSteppingFramesThenErrorForEver) {
    const int agents = GetParam();
    auto root = zone("R", {}, {"c"});
    for (int i = 0; i < agents; ++i) root->add_magician(std::make_shared<AbsMagician>("a"));
    NarrativeSequencer sequencer(root);
    for (int call = 1; call <= 1000; ++call) {
        const json meta = sequencer.NextFrame()["meta"];
        ASSERT_EQ(meta["frame_index"], call);
        ASSERT_EQ(meta["status"], call > agents ? "FINISHED" : "RUNNING") << call;
    }
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(sequencer.NextFrame()["meta"],
                  json({{"frame_index", 1000}, {"last_event", nullptr}, {"status", "ERROR"},
                        {"message", "Max frame limit reached. Infinite loop detected."}}));
        EXPECT_TRUE(sequencer.is_finished);
    }
}

// 1001 agents never finish in time; 999 resolve exactly in frame 1000, and the limit still comes first.
INSTANTIATE_TEST_SUITE_P(Worlds, FrameLimit, testing::Values(1001, 999));

TEST(Sequencer, EmptyRootReportsByteForByteThenStaysFinishedUntilReopened) {
    NarrativeSequencer sequencer(zone("r"));
    const std::string world = R"({"agents":[],"charges":[],"id":"r","is_time_frozen":false,)";
    EXPECT_EQ(to_text(sequencer.NextFrame()),
              world + R"("meta":{"frame_index":1,"last_event":{"agent_name":"System",)"
                      R"("description":"Equation Resolved.","type":"FINISHED","visual_id":"N/A"},)"
                      R"("message":"Equation Resolved.","status":"FINISHED"},)"
                      R"("sub_environments":[]})");
    const std::string complete = world + R"("meta":{"frame_index":1,"last_event":null,)"
                                         R"("message":"Simulation complete. No further actions.",)"
                                         R"("status":"FINISHED"},"sub_environments":[]})";
    EXPECT_EQ(to_text(sequencer.NextFrame()), complete);
    EXPECT_EQ(to_text(sequencer.NextFrame()), complete);
    sequencer.is_finished = false;  // the host reopens the run: the next call steps again
    EXPECT_EQ(sequencer.NextFrame()["meta"]["frame_index"], 2);
}

TEST(Sequencer, RestartedItRunsAnotherWorldAsANewSequencerWould) {
    const auto world = [] {
        auto root = zone("R", {}, {"r"});
        root->add_magician(std::make_shared<EqualsGate>("g", 3));
        root->add_environment(zone("A", {"a"}, {"x", "y"}));
        return root;
    };
    NarrativeSequencer fresh(world());
    NarrativeSequencer reused(zone("other", {"o"}, {"x", "y"}));
    for (int i = 0; i < 4; ++i) reused.NextFrame();  // to its end and past it
    EXPECT_THROW(reused.restart(nullptr), std::invalid_argument);
    reused.restart(world());
    EXPECT_EQ(reused.current_frame, 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(to_text(reused.NextFrame()), to_text(fresh.NextFrame())) << "frame " << i + 1;
}

TEST(Sequencer, ReportTextKeepsTheFreezeFlagsOfTheFrameStart) {
    auto root = zone("R");
    root->add_magician(std::make_shared<InequalityGate>("j", 4, InequalityGate::GREATER_THAN));
    root->add_environment(zone("S", {"p"}, {"a", "b"}));
    root->add_environment(zone("E\xC3\xB6"));  // non-ASCII is written raw
    NarrativeSequencer sequencer(root);
    // S settles in frame 1, but R's flag was computed at the start of that frame; frame 2 clears it.
    EXPECT_EQ(to_text(sequencer.NextFrame()),
              R"({"agents":[{"is_open":false,"name":"The Judge","priority":0,"rule":">","state":"dormant",)"
              R"("target_value":4.0,"visual_id":"j"}],"charges":[],"id":"R","is_time_frozen":true,"meta":)"
              R"({"frame_index":1,"last_event":{"agent_name":"Plus Magician","description":"Plus Magician executed )"
              R"(operation in S","type":"CAST_SPELL","visual_id":"p"},"message":"Plus Magician executed operation )"
              R"(in S","status":"RUNNING"},"sub_environments":[{"agents":[],"charges":[{"magnitude":2.0,)"
              R"("polarity":"positive","visual_id":"result_p"}],"id":"S","is_time_frozen":false,"sub_environments":)"
              R"([]},{"agents":[],"charges":[],"id":"E)" "\xC3\xB6"
              R"(","is_time_frozen":false,"sub_environments":[]}]})");
    EXPECT_EQ(sequencer.NextFrame()["is_time_frozen"], false);
    root->id = "bad\xFF";
    try {
        to_text(sequencer.NextFrame());
        ADD_FAILURE() << "invalid UTF-8 was written";
    } catch (const json::type_error& error) {
        EXPECT_EQ(error.id, 316);
    }
}

}  // namespace
}  // namespace orv
