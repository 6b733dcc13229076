// The solver: the same answer on any number of workers, twins counted once, a first solution, and
// a search cancelled or failed by its poll (run here under the sanitizers too).
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "toolkit/level_file.h"
#include "toolkit/solver.h"

namespace orv {
namespace {

// A hall with `rooms` rooms of two charges and `pieces` identical Plus Magicians in the tray: solved
// when each room gets one, and all ways of sending the twins there build one world.
Level rooms(int rooms, int pieces) {
    std::string text = R"({"format": 1, "pieces": [)";
    for (int p = 0; p < pieces; ++p) text += std::string(p ? "," : "") + R"({"name": "plus", "visual_id": "smith"})";
    text += R"(], "world": {"id": "hall", "sub_environments": [)";
    for (int r = 0; r < rooms; ++r) {
        text += std::string(r ? "," : "") + R"({"id": "room", "charges": [)" +
                R"({"magnitude": 1, "polarity": "positive", "visual_id": "a"},)" +
                R"({"magnitude": 2, "polarity": "positive", "visual_id": "b"}]})";
    }
    return read_level(text + "]}}");
}

TEST(Solver, AnyNumberOfWorkersGivesTheSameAnswerAndTwinsCountOnce) {
    const Level level = rooms(4, 4);
    Solver solver(*level.world, level.tray);
    ASSERT_EQ(solver.placements(), 625u);
    for (unsigned jobs : {1u, 2u, 5u}) {
        SolverOptions options;
        options.jobs = jobs;
        options.keep = 3;
        const SolverResult result = solver.solve(options, [] { return true; }, std::chrono::milliseconds(1));
        EXPECT_TRUE(result.exhaustive && !result.cancelled);
        EXPECT_EQ(result.tried, 625u);
        EXPECT_EQ(result.solutions, 1u) << jobs << " jobs";
        ASSERT_TRUE(result.shortest);
        EXPECT_EQ(result.shortest->zones, (Placement{1, 2, 3, 4}));  // the first of the 24 that build it
        EXPECT_EQ(result.listed.size(), 1u);
        options.first = true;
        const SolverResult first = solver.solve(options);
        EXPECT_EQ(first.tried, 1u * 125 + 2 * 25 + 3 * 5 + 4 + 1);  // the index of 1, 2, 3, 4 in base 5
        EXPECT_EQ(first.solutions, 1u);
    }
}

TEST(Solver, PollCancelsOrFailsALongSearch) {
    const Level level = rooms(8, 8);  // 9^8: about 43 million placements
    Solver solver(*level.world, level.tray);
    SolverOptions options;
    options.jobs = 2;
    int polls = 0;
    const SolverResult cancelled = solver.solve(options, [&] { return ++polls < 3; }, std::chrono::milliseconds(5));
    EXPECT_TRUE(cancelled.cancelled && !cancelled.exhaustive);
    EXPECT_LT(cancelled.tried, solver.placements());
    EXPECT_EQ(polls, 3);
    EXPECT_THROW(solver.solve(options, []() -> bool { throw std::runtime_error("poll"); }), std::runtime_error);
    const Level huge = rooms(9, 10);
    EXPECT_THROW(Solver(*huge.world, huge.tray), SearchTooLarge);
}

TEST(Solver, ACancelledSearchNamesNothingOfTheSearchBefore) {
    const Level level = rooms(6, 6);  // 7^6 placements, the first solution at 22,875
    Solver solver(*level.world, level.tray);
    SolverOptions options;
    options.jobs = 2;
    ASSERT_TRUE(solver.solve(options).shortest);
    const SolverResult cancelled = solver.solve(options, [] { return false; }, std::chrono::milliseconds(1));
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.shortest);
    EXPECT_EQ(cancelled.solutions, 0u);
}

TEST(Solver, ARunStoppedByTheFrameLimitDoesNotSolve) {
    // The piece casts in x at frame 1 and the 999 rooms fold in frames 2 to 1000: everything has
    // folded, but the run is stopped at the limit before the frame that would finish it.
    std::string text = R"({"format": 1, "pieces": [{"name": "plus", "visual_id": "p"}], "accepts": ["hall/x"],
        "world": {"id": "hall", "sub_environments": [{"id": "x", "charges": [{"magnitude": 1, "polarity":
        "positive", "visual_id": "a"}, {"magnitude": 2, "polarity": "positive", "visual_id": "b"}]})";
    for (int z = 0; z < 998; ++z) text += R"(, {"id": "z", "charges": [{"magnitude": 1, "polarity": "positive", "visual_id": "c"}]})";
    const Level level = read_level(text + "]}}");
    const SolverResult result = Solver(*level.world, level.tray).solve();
    EXPECT_EQ(result.tried, 1u);
    EXPECT_EQ(result.solutions, 0u);
}

}  // namespace
}  // namespace orv
