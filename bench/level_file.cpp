// level_file: how long reading and writing level files takes on large worlds (src/toolkit/level_file).
// For each world: its level text's size, write_level and read_level times (the best of a few runs, wall
// clock), and a check that the text read back writes the same text.
//
// Usage: level_file [repetitions]   (default 3)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agents/arithmetic.h"
#include "toolkit/level_file.h"
#include "worlds.h"

namespace {

using Zone = std::shared_ptr<orv::Environment>;

// 80,000 empty sub-zones in the root's list.
Zone zones_in_one_list(int count) {
    auto root = std::make_shared<orv::Environment>("root");
    for (int i = 0; i < count; ++i) root->add_environment(std::make_shared<orv::Environment>("z" + std::to_string(i)));
    return root;
}

// One zone holding `count` charges of varied magnitudes and a Plus Magician.
Zone charges(int count) {
    auto root = std::make_shared<orv::Environment>("hoard");
    for (int i = 0; i < count; ++i) {
        const double magnitude = (i % 3 == 0) ? i : (i % 3 == 1) ? i / 7.0 : 1e-3 * i;
        root->add_charge(orv::Charge(magnitude, static_cast<orv::ChargePolarity>(i % 3), "c" + std::to_string(i)));
    }
    root->add_magician(std::make_shared<orv::PlusMagician>("p"));
    return root;
}

// The best of `repetitions` runs of `work`, which returns the time it measured.
double seconds(const std::function<std::chrono::steady_clock::duration()>& work, int repetitions) {
    double best = 1e300;
    for (int i = 0; i < repetitions; ++i) best = std::min(best, std::chrono::duration<double>(work()).count());
    return best;
}

std::chrono::steady_clock::duration timed(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::steady_clock::now() - start;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    struct Case {
        const char* name;
        std::function<Zone()> make;
    };
    const std::vector<Case> cases = {
        {"80,000 zones in one list", [] { return zones_in_one_list(80'000); }},
        {"100,000 charges in one zone", [] { return charges(100'000); }},
        {"a chain of 100,000 zones", [] { return orv::bench::deep(100'000); }},
        {"wide: 400 zones, 10 charges and 3 agents each", [] { return orv::bench::wide(400); }},
    };
    std::printf("%-48s %12s %12s %12s\n", "world", "text", "write", "read");
    for (const Case& c : cases) {
        const Zone world = c.make();
        std::string text;
        const double write =
            seconds([&] { return timed([&] { text = orv::write_level(*world, "bench", "a benchmark world"); }); }, repetitions);
        orv::Level level;
        const double read = seconds(
            [&] {
                level = orv::Level();  // the world read before is released outside the time
                const auto start = std::chrono::steady_clock::now();
                level = orv::read_level(text);
                return std::chrono::steady_clock::now() - start;
            },
            repetitions);
        if (orv::write_level(*level.world, "bench", "a benchmark world") != text) {
            std::fprintf(stderr, "%s: the text read back writes another text\n", c.name);
            return 1;
        }
        std::printf("%-48s %9.1f MB %9.1f ms %9.1f ms\n", c.name, text.size() / 1e6, write * 1e3, read * 1e3);
    }
    return 0;
}
