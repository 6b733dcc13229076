// judge_frame: what the judge costs a frame, next to the frame itself, on a deep chain (run to its
// end, the frame limit lifted) and on the wide world (run to the frame limit).
// For each world it prints, in CPU time of the thread: the judge's cost per frame (Judge::follow,
// mean and largest), the engine's own frame (run_frame), building the judge and the verdict, which
// walk the world once. A frame's record names the zones it changed by their paths from the root, so
// the judge's frame costs the depth of those zones: the largest frame of the chain is its first,
// whose record names every zone of the chain, frozen from then on.
//
// Usage: judge_frame [deep_zones] [wide_zones]   (defaults: 4000 400)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <string>

#include "sequencer/sequencer.h"
#include "toolkit/verdict.h"
#include "worlds.h"

namespace {

// CPU time of this thread in microseconds: time the scheduler gives to other processes on a shared
// machine does not count.
double cpu_us() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) * 1e-3;
}

void measure(const std::string& name, const std::shared_ptr<orv::Environment>& root, bool to_the_end) {
    orv::NarrativeSequencer sequencer(root);
    if (to_the_end) sequencer.max_frames = std::numeric_limits<std::int32_t>::max();
    double start = cpu_us();
    orv::Judge judge(*root);
    const double built = cpu_us() - start;

    double judging = 0, judging_most = 0, running = 0;
    int frames = 0;
    std::string status;
    while (status != orv::ORV_FRAME_EVENT_FINISHED && status != orv::ORV_FRAME_EVENT_ERROR) {
        start = cpu_us();
        status = sequencer.run_frame().status;
        const double ran = cpu_us();
        judge.follow(sequencer, status);
        const double judged = cpu_us() - ran;
        running += ran - start;
        judging += judged;
        judging_most = std::max(judging_most, judged);
        ++frames;
    }
    start = cpu_us();
    const orv::Verdict verdict = judge.verdict();
    const double judged_once = cpu_us() - start;
    std::printf("%-22s %6d frames (%s)  judge %8.2f us a frame (largest %8.1f)  frame %9.1f us  "
                "judge built %8.1f us  verdict %8.1f us\n",
                name.c_str(), frames, verdict.kind.c_str(), judging / frames, judging_most, running / frames, built,
                judged_once);
}

}  // namespace

int main(int argc, char** argv) {
    const int deep_zones = argc > 1 ? std::atoi(argv[1]) : 4000;
    const int wide_zones = argc > 2 ? std::atoi(argv[2]) : 400;
    measure("deep chain of " + std::to_string(deep_zones), orv::bench::deep(deep_zones), true);
    measure("wide of " + std::to_string(wide_zones), orv::bench::wide(wide_zones), false);
    return 0;
}
