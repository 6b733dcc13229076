// frame_phases: where the time of one frame goes, phase by phase, on the benchmark worlds.
// Builds the same worlds as bench/worlds.py, then for each of a number of frames measures (CPU time of
// the thread, summed over the frames):
//   freeze   update_freeze_states on the world as it is before the frame (the frame recomputes the same flags)
//   collect  collect_agents into a fresh list
//   sort     the stable priority sort of a copy of that list
//   frame    NextFrame as a whole (the phases above, the casts, the collapse test, and the report document)
//   report   generate_response rebuilt on the world after the frame: the document part of NextFrame
//   text     the report document's text (report_text)
//   release  releasing the report document (orv::release)
//   module   one more frame as the module runs it: write_next_frame, the report written straight from
//            the world into a TextWriter, no document built
// The work of a frame that is not JSON (freeze, collect, sort, cast, collapse) is NextFrame - report,
// and its share is taken of the module's frame.
//
// Usage: frame_phases [wide|deep|crowd|all] [frames] [scale]   (defaults: all 15 1)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "model/json_text.h"
#include "model/text_writer.h"
#include "sequencer/sequencer.h"
#include "worlds.h"

namespace {

using orv::bench::crowd;
using orv::bench::deep;
using orv::bench::wide;
using Zone = std::shared_ptr<orv::Environment>;

// CPU time of this thread: time the scheduler gives to other processes on a shared machine
// does not count.
double cpu_now() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Phases {
    double freeze = 0, collect = 0, sort = 0, frame = 0, report = 0, text = 0, release = 0, module = 0;
};

void run(const std::string& name, int frames, double scale) {
    Zone root = name == "wide"   ? wide(static_cast<int>(std::lround(1000 * scale)))
                : name == "deep" ? deep(static_cast<int>(std::lround(2000 * scale)))
                                 : crowd(static_cast<int>(std::lround(10000 * scale)));
    orv::NarrativeSequencer sequencer(root);
    sequencer.report_text(sequencer.NextFrame());  // warm-up
    Phases sum;
    std::size_t bytes = 0;
    for (int i = 0; i < frames; ++i) {
        double start = cpu_now();
        sequencer.update_freeze_states(root.get());
        sum.freeze += cpu_now() - start;

        std::vector<orv::Candidate> candidates;
        start = cpu_now();
        sequencer.collect_agents(root.get(), candidates);
        sum.collect += cpu_now() - start;

        start = cpu_now();
        std::stable_sort(candidates.begin(), candidates.end(), [](const orv::Candidate& a, const orv::Candidate& b) {
            return a.first->priority > b.first->priority;
        });
        sum.sort += cpu_now() - start;
        candidates = {};

        start = cpu_now();
        auto document = std::make_unique<nlohmann::json>(sequencer.NextFrame());
        sum.frame += cpu_now() - start;

        start = cpu_now();
        const std::string written = sequencer.report_text(*document);
        sum.text += cpu_now() - start;
        bytes = written.size();

        start = cpu_now();
        orv::release(*document);
        document.reset();
        sum.release += cpu_now() - start;

        const std::string status = sequencer.is_finished ? "FINISHED" : "RUNNING";
        const std::string message = sequencer.last_event ? sequencer.last_event->description : "";
        start = cpu_now();
        auto again = std::make_unique<nlohmann::json>(sequencer.generate_response(status, message));
        sum.report += cpu_now() - start;
        orv::release(*again);

        start = cpu_now();
        {
            orv::TextWriter out;
            sequencer.write_next_frame(out);
        }
        sum.module += cpu_now() - start;
    }
    // What a frame costs beyond building its report: freeze, collect, sort, casts, collapse test.
    // Never less than the three phases that were timed on their own.
    const double non_json = std::max(sum.frame - sum.report, sum.freeze + sum.collect + sum.sort);
    const double whole = sum.module;
    const double n = frames;
    std::printf(
        "%s: %zu bytes; mean CPU ms over %d frames: freeze %.3f, collect %.3f, sort %.3f, NextFrame %.3f "
        "(report document %.3f), text %.3f, release %.3f; module frame (write_next_frame) %.3f; non-JSON work "
        "%.3f ms = %.2f%% of the module frame\n",
        name.c_str(), bytes, frames, sum.freeze / n * 1e3, sum.collect / n * 1e3, sum.sort / n * 1e3,
        sum.frame / n * 1e3, sum.report / n * 1e3, sum.text / n * 1e3, sum.release / n * 1e3, whole / n * 1e3,
        non_json / n * 1e3, 100.0 * non_json / whole);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "all";
    const int frames = argc > 2 ? std::atoi(argv[2]) : 15;
    const double scale = argc > 3 ? std::atof(argv[3]) : 1.0;
    for (const char* name : {"wide", "deep", "crowd"}) {
        if (which == "all" || which == name) run(name, frames, scale);
    }
    return 0;
}
