// solver_runs: the solver's own cost of a run, per core: each puzzle file is read and planned once,
// then searched whole again and again on one worker for about a second of CPU time (the solver
// keeps the worker's world between searches, so this is what a run costs).
// For each file it prints the placements, runs a second and microseconds a run, and what reading the
// level and planning the search cost once.
//
// Usage: solver_runs [--runs N | --seconds S] PUZZLE.json...   (bench/solver.py writes the
// campaign's puzzles and runs it; --runs searches each file until N runs are done, for counting
// instructions; --seconds sets the CPU time for each file, 1 by default)
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "toolkit/level_file.h"
#include "toolkit/solver.h"

namespace {

// CPU time of this thread in seconds.
double cpu_s() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    std::uint64_t fixed = 0;
    double seconds = 1.0;
    if (argc > 2 && std::string(argv[1]) == "--runs") fixed = std::stoull(argv[2]), first = 3;
    if (argc > 2 && std::string(argv[1]) == "--seconds") seconds = std::stod(argv[2]), first = 3;
    for (int i = first; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        double start = cpu_s();
        const orv::Level level = orv::read_level(text.str());
        orv::Solver solver(*level.world, level.tray);
        const double planned = cpu_s() - start;
        orv::SolverOptions options;
        options.jobs = 1;
        std::uint64_t runs = 0;
        start = cpu_s();
        double took = 0;
        while (fixed ? runs < fixed : took < seconds) {
            runs += solver.solve(options).tried;
            took = cpu_s() - start;
        }
        std::printf("%s %llu %.0f %.3f %.1f\n", argv[i], static_cast<unsigned long long>(solver.placements()),
                    static_cast<double>(runs) / took, took / static_cast<double>(runs) * 1e6, planned * 1e6);
    }
    return 0;
}
