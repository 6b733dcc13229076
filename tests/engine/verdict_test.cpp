// The judge against the tracker it replaces: every world of verdict_table.json (written once by
// make_verdict_table.py from the toolkit's former tracker) is run by the engine and judged here.
#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sequencer/sequencer.h"
#include "toolkit/kinds.h"
#include "toolkit/pieces.h"
#include "toolkit/verdict.h"

namespace orv {
namespace {

using nlohmann::json;

const json& table() {
    static const json loaded = [] {
        const std::string source = __FILE__;
        std::ifstream file(source.substr(0, source.rfind('/')) + "/verdict_table.json");
        return json::parse(file);
    }();
    return loaded;
}

// A magnitude or target as level files write it: a number, null (NaN), "inf", "-inf" or "nan".
double number(const json& value) {
    if (value.is_number()) return value.get<double>();
    if (value == "inf") return std::numeric_limits<double>::infinity();
    if (value == "-inf") return -std::numeric_limits<double>::infinity();
    return std::numeric_limits<double>::quiet_NaN();
}

// A list of a zone's JSON, empty when the zone leaves it out.
const json& list(const json& zone, const char* key) {
    static const json none = json::array();
    const auto found = zone.find(key);
    return found == zone.end() ? none : *found;
}

// The world of a zone's JSON, built top-down as the level reader builds it.
std::shared_ptr<Environment> build(const json& world) {
    auto root = std::make_shared<Environment>(world["id"].get<std::string>());
    std::vector<std::pair<const json*, Environment*>> stack{{&world, root.get()}};
    while (!stack.empty()) {
        auto [zone, env] = stack.back();
        stack.pop_back();
        for (const json& charge : list(*zone, "charges")) {
            const std::string polarity = charge["polarity"];
            env->add_charge(Charge(number(charge["magnitude"]),
                                   polarity == "positive"   ? ChargePolarity::POSITIVE
                                   : polarity == "negative" ? ChargePolarity::NEGATIVE
                                                            : ChargePolarity::NEUTRAL,
                                   charge["visual_id"]));
        }
        for (const json& agent : list(*zone, "agents")) {
            const AgentKind* kind = find_kind(agent["name"].get<std::string>());
            env->add_magician(kind->make(agent["visual_id"], kind->gate ? number(agent["target_value"]) : 0.0,
                                         agent.value("rule", "")));
        }
        env->is_time_frozen = zone->value("is_time_frozen", false);
        std::vector<std::pair<const json*, Environment*>> subs;
        for (const json& sub : list(*zone, "sub_environments")) {
            auto child = std::make_shared<Environment>(sub["id"].get<std::string>());
            env->add_environment(child);
            subs.emplace_back(&sub, child.get());
        }
        stack.insert(stack.end(), subs.rbegin(), subs.rend());
    }
    return root;
}

bool ended(const std::string& status) { return status == ORV_FRAME_EVENT_FINISHED || status == ORV_FRAME_EVENT_ERROR; }

json told_json(const Told& told) { return json::array({told.words, told.where}); }

json verdict_json(const Verdict& verdict) {
    return {{"verdict", verdict.kind}, {"frames", verdict.frames}, {"reasons", verdict.reasons}};
}

// Compares frame by frame and names the first frame that differs, rather than two long lists.
void expect_told(const json& got, const json& expected) {
    for (std::size_t i = 0; i < got.size() && i < expected.size(); ++i) {
        if (got[i] != expected[i]) {
            ADD_FAILURE() << "told item " << i << ": " << got[i] << ", expected " << expected[i];
            return;
        }
    }
    EXPECT_EQ(got.size(), expected.size()) << "told items";
}

// Follows `sequencer` for at most `frames` frames, or to the end of the run; `folds`, when given,
// counts the folds.
void follow(NarrativeSequencer& sequencer, Judge& judge, std::int64_t frames, std::string& status, json& told,
            std::size_t* folds = nullptr) {
    for (std::int64_t i = 0; i < frames && !ended(status); ++i) {
        status = sequencer.run_frame().status;
        told.push_back(told_json(judge.follow(sequencer, status)));
        if (folds && sequencer.last_record.action == FrameRecord::Action::FOLD) ++*folds;
    }
}

TEST(Verdict, RunsJudgedAsTheFormerTrackerJudgedThem) {
    std::size_t finished[2] = {0, 0};  // runs that finished unsolved and solved
    for (const json& entry : table()["entries"]) {
        SCOPED_TRACE(entry["name"].get<std::string>());
        const auto world = build(entry["world"]);
        EXPECT_EQ(json(world_lines(*world)), entry["lines"]);
        NarrativeSequencer sequencer(world);
        Judge judge(*world);
        std::string status = ORV_FRAME_EVENT_RUNNING;
        json told = json::array();
        const std::size_t zones = zones_in_preorder(*world).size();
        std::size_t folds = 0;
        follow(sequencer, judge, entry.value("until", std::numeric_limits<std::int64_t>::max()), status, told,
               &folds);
        const Verdict verdict = judge.verdict();
        // The solver's rule for a finished run says what the judge says.
        if (sequencer.last_record.action == FrameRecord::Action::FINISH) {
            EXPECT_EQ(finished_run_solved(*world, zones, folds), verdict.kind == "solved");
            ++finished[verdict.kind == "solved"];
        }
        EXPECT_EQ(verdict_json(verdict), entry["verdict"]);
        expect_told(told, entry["told"]);
        EXPECT_EQ(json(summary_lines(verdict, judge.zone_name({}))), entry["summary"]);
    }
    EXPECT_GT(finished[0], 50u);
    EXPECT_GT(finished[1], 20u);
}

// A saved run: each segment takes the world of a table entry after some frames, as a run file's
// report holds it, and follows the engine from there; the first begins the run, the others are
// jumps that do not follow from the report before.
TEST(Verdict, SavedRunsJudgedAsTheFormerTrackerJudgedThem) {
    const json& entries = table()["entries"];
    for (const json& saved : table()["saved"]) {
        SCOPED_TRACE(saved["segments"].dump());
        std::vector<std::shared_ptr<Environment>> worlds;
        std::unique_ptr<NarrativeSequencer> sequencer;
        std::unique_ptr<Judge> judge;
        std::string status;
        json told = json::array();
        for (const json& segment : saved["segments"]) {
            const auto origin = build(entries[segment[0].get<std::size_t>()]["world"]);
            NarrativeSequencer original(origin);
            const std::int32_t start = segment[1];
            for (std::int32_t frame = 0; frame < start; ++frame) status = original.run_frame().status;
            worlds.push_back(build(origin->to_json()));
            sequencer = std::make_unique<NarrativeSequencer>(worlds.back());
            sequencer->current_frame = start;
            sequencer->is_finished = ended(status);
            if (!judge) {
                judge = std::make_unique<Judge>(*worlds.back());
                told.push_back(told_json(judge->begin_saved(start, status, original.last_event)));
            } else {
                told.push_back(told_json(judge->lost(start, original.last_event->description, *worlds.back(), status)));
            }
            follow(*sequencer, *judge, segment[2], status, told);
        }
        EXPECT_EQ(verdict_json(judge->verdict()), saved["verdict"]);
        expect_told(told, saved["told"]);
    }
}

// A frame of another run is refused, with the place it named, and leaves the judge as it was.
TEST(Verdict, FrameOfAnotherRunIsRefused) {
    const json deep = json::parse(R"({"id": "r", "sub_environments": [{"id": "s",
        "agents": [{"name": "abs", "visual_id": "p"}],
        "charges": [{"magnitude": 2, "polarity": "positive", "visual_id": "c"}]}]})");
    const json flat = json::parse(R"({"id": "r",
        "charges": [{"magnitude": 1, "polarity": "positive", "visual_id": "c"}]})");
    const auto other = build(deep);
    const auto world = build(flat);
    NarrativeSequencer sequencer(other);
    Judge judge(*world);
    sequencer.run_frame();
    try {
        judge.follow(sequencer, ORV_FRAME_EVENT_RUNNING);
        ADD_FAILURE() << "a cast in a zone the judge does not have was followed";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "the judge's world has no zone at path [0]: zone r has 0 sub-zones, so the frame "
                                   "is not one of the run it follows");
    }
    EXPECT_EQ(verdict_json(judge.verdict()), json({{"verdict", "paused"}, {"frames", 0}, {"reasons", json::array()}}));
}

}  // namespace
}  // namespace orv
