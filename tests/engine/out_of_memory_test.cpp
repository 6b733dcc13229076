// Running out of memory at each allocation in turn while documents and reports are built and written:
// every failure leaves as std::bad_alloc, and releasing zones and documents allocates nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "agents/arithmetic.h"
#include "agents/gates.h"
#include "model/json_release.h"
#include "model/json_text.h"
#include "sequencer/sequencer.h"
#include "toolkit/level_file.h"
#include "toolkit/solver.h"

namespace {

// While armed, allocations are counted and every one from the `fail_from`-th on fails, as they do
// once memory has run out.
bool armed = false;
long long fail_from = 0;
long long allocations = 0;

void* allocate(std::size_t size) {
    if (armed && allocations++ >= fail_from) throw std::bad_alloc();
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
    throw std::bad_alloc();
}

}  // namespace

namespace {

void* allocate_or_null(std::size_t size) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

// Every form the engine and the standard library use (stable_sort asks for nothrow buffers).
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace orv {
namespace {

using Zone = std::shared_ptr<Environment>;

// Runs `call` with allocations failing from the `from`-th on; true when it ran out of memory.
template <typename Call>
bool runs_out(long long from, Call call) {
    allocations = 0;
    fail_from = from;
    armed = true;
    bool failed = false;
    try {
        call();
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    armed = false;
    return failed;
}

// A root with a gate, sub-zones of one charge, one of them holding a sub-zone with a Plus Magician
// and two charges, so that the first frame casts and the later ones collapse.
Zone world() {
    auto root = std::make_shared<Environment>("root");
    root->add_magician(std::make_shared<InequalityGate>("judge", -1, InequalityGate::LESS_THAN));
    for (int i = 0; i < 4; ++i) {
        auto sub = std::make_shared<Environment>("s" + std::to_string(i));
        sub->add_charge(Charge(i, ChargePolarity::NEGATIVE, "c" + std::to_string(i)));
        root->add_environment(sub);
    }
    auto busy = std::make_shared<Environment>("busy");
    busy->add_charge(Charge(2, ChargePolarity::POSITIVE, "a"));
    busy->add_charge(Charge(3, ChargePolarity::POSITIVE, "b"));
    busy->add_magician(std::make_shared<PlusMagician>("p"));
    root->sub_environments.back()->add_environment(busy);
    return root;
}

TEST(OutOfMemory, EveryFailedAllocationOfToJsonLeavesAsBadAlloc) {
    const Zone root = world();
    const std::string whole = to_text(root->to_json());
    long long from = 0;
    for (; runs_out(from, [&] { ReleasePath path; nlohmann::json document = root->to_json(path); ReleasedAtExit released(document, path); to_text(document, root->json_depth()); }); ++from) {
        EXPECT_EQ(to_text(root->to_json()), whole) << "failing from allocation " << from;
    }
    EXPECT_GT(from, 50);
}

TEST(OutOfMemory, EveryFailedAllocationOfAFrameLeavesAsBadAllocAndTheWorldSteps) {
    const auto run_to_the_end = [](NarrativeSequencer& sequencer) {
        while (!sequencer.is_finished) ASSERT_FALSE(sequencer.NextFrame().is_null());
    };
    const Zone reference = world();
    NarrativeSequencer reference_sequencer(reference);
    const std::string first_report = reference_sequencer.report_text(reference_sequencer.NextFrame());
    run_to_the_end(reference_sequencer);
    const std::string end = to_text(reference->to_json());

    for (long long from = 0;; ++from) {
        const Zone root = world();
        NarrativeSequencer sequencer(root);
        std::string text;
        const bool failed = runs_out(from, [&] {
            nlohmann::json report = sequencer.NextFrame();
            ReleasedAtExit released(report, sequencer.report_path);
            text = sequencer.report_text(report);
        });
        // Whatever the frame got done stays done, and the next frames finish the story as usual.
        run_to_the_end(sequencer);
        EXPECT_EQ(to_text(root->to_json()), end) << "failing from allocation " << from;
        if (!failed) {
            EXPECT_GT(from, 50);
            EXPECT_EQ(text, first_report);
            break;
        }
    }
}

TEST(OutOfMemory, ASearchThatRunsOutOfMemoryLeavesTheNextSearchItsAnswer) {
    // Two pieces, four zones: sixteen runs, each casting and folding.
    const Level level = read_level(R"({"format": 1, "pieces": [{"name": "plus", "visual_id": "p"},
        {"name": "minus", "visual_id": "m"}], "world": {"id": "r", "agents": [{"name": "equals",
        "visual_id": "g", "target_value": 1}], "sub_environments": [{"id": "a", "charges": [
        {"magnitude": 3, "polarity": "positive", "visual_id": "x"}, {"magnitude": 2, "polarity":
        "positive", "visual_id": "y"}]}, {"id": "b", "sub_environments": [{"id": "c", "charges": [
        {"magnitude": 4, "polarity": "negative", "visual_id": "z"}]}]}]}})");
    Solver solver(*level.world, level.tray);
    SolverOptions options;
    options.jobs = 1;
    options.keep = 16;
    const SolverResult answer = solver.solve(options);
    ASSERT_EQ(answer.tried, 16u);
    ASSERT_TRUE(answer.shortest);
    for (long long from = 0;; ++from) {
        const bool failed = runs_out(from, [&] { solver.solve(options); });
        const SolverResult again = solver.solve(options);
        EXPECT_EQ(again.solutions, answer.solutions) << "failing from allocation " << from;
        EXPECT_EQ(again.shortest->zones, answer.shortest->zones) << "failing from allocation " << from;
        EXPECT_EQ(again.listed.size(), answer.listed.size()) << "failing from allocation " << from;
        if (!failed) break;
    }
}

TEST(OutOfMemory, ReleasingZonesAndDocumentsAllocatesNothing) {
    // A chain, a wide zone and a zone of zones, each dropped by its last owner, and their documents.
    std::vector<Zone> worlds{std::make_shared<Environment>("chain"), std::make_shared<Environment>("wide"), world()};
    Environment* link = worlds[0].get();
    for (int i = 0; i < 20000; ++i) {
        auto next = std::make_shared<Environment>("link");
        next->add_charge(Charge(1, ChargePolarity::POSITIVE, "c"));
        link->add_environment(next);
        link = next.get();
        worlds[1]->add_environment(world());
    }
    std::vector<ReleasePath> paths(worlds.size());
    std::vector<nlohmann::json> documents;
    for (std::size_t i = 0; i < worlds.size(); ++i) documents.push_back(worlds[i]->to_json(paths[i]));
    EXPECT_FALSE(runs_out(0, [&] {
        for (std::size_t i = 0; i < worlds.size(); ++i) release(documents[i], paths[i]);
        worlds.clear();
    }));
    EXPECT_EQ(allocations, 0);
    for (const auto& document : documents) EXPECT_TRUE(document.is_null());
}

}  // namespace
}  // namespace orv
