// The shortcuts of the text path: a zone tree's JSON depth worked out without the document, the
// report text written with it, and release() of a document.
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "model/json_text.h"
#include "sequencer/sequencer.h"

namespace orv {
namespace {

using Zone = std::shared_ptr<Environment>;

Zone zone(const std::string& id) { return std::make_shared<Environment>(id); }

// z0 holding z1 holding ... z(count-1); `fill` decides what the bottom zone holds.
std::vector<Zone> chain(int count, const std::function<void(Environment&)>& fill) {
    std::vector<Zone> zones{zone("z0")};
    for (int i = 1; i < count; ++i) {
        zones.push_back(zone("z" + std::to_string(i)));
        zones[i - 1]->add_environment(zones[i]);
    }
    fill(*zones.back());
    return zones;
}

void nothing(Environment&) {}
void one_charge(Environment& z) { z.add_charge(Charge(1, ChargePolarity::POSITIVE, "c")); }
void one_gate(Environment& z) { z.add_magician(std::make_shared<InequalityGate>("j", 1, InequalityGate::LESS_EQUAL)); }

struct Tree {
    const char* name;
    std::function<Zone()> build;
};

class JsonDepth : public testing::TestWithParam<Tree> {};

TEST_P(JsonDepth, MatchesTheDocument) {
    const Zone root = GetParam().build();
    EXPECT_EQ(root->json_depth(), nesting_depth(root->to_json()));
}

INSTANTIATE_TEST_SUITE_P(
    Trees, JsonDepth,
    testing::Values(Tree{"empty", [] { return zone("r"); }},
                    Tree{"charge", [] { return chain(1, one_charge)[0]; }},
                    Tree{"gate", [] { return chain(1, one_gate)[0]; }},
                    Tree{"empty_leaf", [] { return chain(3, nothing)[0]; }},
                    Tree{"charge_at_bottom", [] { return chain(4, one_charge)[0]; }},
                    Tree{"agent_at_bottom", [] { return chain(4, one_gate)[0]; }},
                    Tree{"busy_top_empty_bottom",
                         [] {
                             auto zones = chain(5, nothing);
                             one_charge(*zones[1]);
                             zones[0]->add_magician(std::make_shared<Chronomancer>("t"));
                             return zones[0];
                         }},
                    Tree{"shared_zone_at_two_depths",
                         [] {
                             auto zones = chain(4, nothing);
                             auto shared = zone("s");
                             one_charge(*shared);
                             zones[0]->add_environment(shared);
                             zones[3]->add_environment(shared);
                             return zones[0];
                         }}),
    [](const testing::TestParamInfo<Tree>& info) { return info.param.name; });

// The report text takes its depth from the world; it must refuse exactly what the walking writer
// refuses and otherwise write the same text, around the depth limit and on frames that change it.
TEST(ReportText, AgreesWithTheWalkingWriterAroundTheDepthLimit) {
    const std::size_t zones_at_limit = kMaxTextDepth / 2;
    for (std::size_t count : {zones_at_limit - 2, zones_at_limit - 1, zones_at_limit, zones_at_limit + 1}) {
        for (auto fill : {nothing, one_charge, one_gate}) {
            NarrativeSequencer sequencer(chain(static_cast<int>(count), fill)[0]);
            for (int frame = 0; frame < 3; ++frame) {
                const nlohmann::json report = sequencer.NextFrame();
                std::string walked, known;
                try {
                    walked = to_text(report);
                } catch (const std::length_error& error) {
                    walked = std::string("refused: ") + error.what();
                }
                try {
                    known = sequencer.report_text(report);
                } catch (const std::length_error& error) {
                    known = std::string("refused: ") + error.what();
                }
                EXPECT_EQ(known, walked) << count << " zones, frame " << frame;
            }
        }
    }
}

// On a thread with a 128 KiB stack, to_text writes shallow documents (a charge, a zone, a report and
// a string it must refuse as invalid UTF-8) and allows some levels of nesting.
TEST(ToText, WritesShallowDocumentsOnASmallThreadStack) {
    struct Found {
        std::size_t depth = 0;
        std::vector<std::string> texts;
    } found;
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 128 * 1024), 0);
    pthread_t thread;
    const auto body = [](void* out) -> void* {
        auto& found = *static_cast<Found*>(out);
        found.depth = writable_depth();
        auto root = zone("R");
        one_charge(*root);
        one_gate(*root);
        NarrativeSequencer sequencer(root);
        for (const nlohmann::json& document : {Charge(1, ChargePolarity::POSITIVE, "a").to_json(), root->to_json(),
                                               sequencer.NextFrame(), nlohmann::json("\xff")}) {
            try {
                found.texts.push_back(to_text(document));
            } catch (const std::exception& error) {
                found.texts.push_back(error.what());
            }
        }
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, &found), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_GE(found.depth, 4u);
    ASSERT_EQ(found.texts.size(), 4u);
    EXPECT_EQ(found.texts[0], R"({"magnitude":1.0,"polarity":"positive","visual_id":"a"})");
    EXPECT_EQ(found.texts[1].rfind("{\"agents\":[{", 0), 0u) << found.texts[1];
    EXPECT_NE(found.texts[2].find("\"meta\":{\"frame_index\":1"), std::string::npos) << found.texts[2];
    EXPECT_NE(found.texts[3].find("invalid UTF-8 byte at index 0: 0xFF"), std::string::npos) << found.texts[3];
}

TEST(Release, EmptiesDeepAndWideDocumentsWithoutRecursion) {
    nlohmann::json deep = nlohmann::json::array();
    nlohmann::json* bottom = &deep;
    for (int level = 0; level < 200000; ++level) {
        bottom->push_back(nlohmann::json::object({{"k", "v"}}));
        bottom = &(*bottom)[0]["k"];
        *bottom = nlohmann::json::array();
    }
    release(deep);
    EXPECT_TRUE(deep.is_null());

    NarrativeSequencer sequencer(chain(50, one_charge)[0]);
    nlohmann::json report = sequencer.NextFrame();
    release(report);
    EXPECT_TRUE(report.is_null());
}

}  // namespace
}  // namespace orv
