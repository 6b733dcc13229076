// The worked run: a sub-zone folds 2 + 3, collapses into the root, and the root's gate opens at 5.
#include <gtest/gtest.h>

#include "model/json_text.h"
#include "sequencer/sequencer.h"
#include "worked_world.h"

namespace orv {
namespace {

TEST(WorkedRun, FiveCallsTellTheWholeStory) {
    auto root = worked_world();
    NarrativeSequencer sequencer(root);

    struct Expected {
        int frame;
        const char* status;
        nlohmann::json event;  // [agent_name, type] or null
        const char* message;
    };
    const Expected calls[] = {
        {1, "RUNNING", {"Plus Magician", "CAST_SPELL"}, "Plus Magician executed operation in S"},
        {2, "RUNNING", {"Chronomancer", "COLLAPSE_ZONE"}, "Zone S has resolved and merged."},
        {3, "RUNNING", {"Equals Gate", "CAST_SPELL"}, "Equals Gate executed operation in R"},
        {4, "FINISHED", {"System", "FINISHED"}, "Equation Resolved."},
        {4, "FINISHED", nullptr, "Simulation complete. No further actions."},
    };
    for (const Expected& expected : calls) {
        const nlohmann::json report = sequencer.NextFrame();
        const nlohmann::json& meta = report["meta"];
        EXPECT_EQ(meta["frame_index"], expected.frame);
        EXPECT_EQ(meta["status"], expected.status);
        EXPECT_EQ(meta["message"], expected.message);
        if (expected.event.is_null()) {
            EXPECT_TRUE(meta["last_event"].is_null());
        } else {
            EXPECT_EQ(meta["last_event"]["agent_name"], expected.event[0]);
            EXPECT_EQ(meta["last_event"]["type"], expected.event[1]);
        }
    }
    EXPECT_EQ(to_text(root->to_json()),
              R"({"agents":[],"charges":[{"magnitude":5.0,"polarity":"positive","visual_id":"result_p"}],)"
              R"("id":"R","is_time_frozen":false,"sub_environments":[]})");
}

}  // namespace
}  // namespace orv
