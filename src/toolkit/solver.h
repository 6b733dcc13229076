// Solver: every placement of a puzzle's pieces run to its end by the engine and judged by the
// verdict's rule, on a worker per core; how many solve it, the shortest, and whether it is unique.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/environment.h"
#include "toolkit/pieces.h"

namespace orv {

// A search larger than the solver takes on, refused before it starts.
class SearchTooLarge : public std::length_error {
public:
    using std::length_error::length_error;
};

struct Solution {
    Placement zones;  // the zone of each piece (preorder numbers)
    std::int32_t frames = 0;
};

struct SolverOptions {
    unsigned jobs = 0;   // workers; 0 for one per core
    bool first = false;  // stop at the first solution in the search's order
    // Solutions to list, the first in the search's order (each worker keeps at most this many).
    std::size_t keep = 0;
};

struct SolverResult {
    // Placements looked at: every one when the search went to the end.
    std::uint64_t tried = 0;
    // Solutions found, placements that build the same world counted once.
    std::uint64_t solutions = 0;
    // Whether every placement was looked at (false after a first solution, or when cancelled).
    bool exhaustive = false;
    bool cancelled = false;
    // The solution of fewest frames, the first in the search's order among equals; with `first`,
    // the first solution in that order.
    std::optional<Solution> shortest;
    // The first `keep` solutions in the search's order.
    std::vector<Solution> listed;
};

class Solver {
public:
    // The most placements a search may have.
    static constexpr std::uint64_t kMostPlacements = 1'000'000'000;

    // Takes the puzzle (its world before frame 1 and its tray) apart into what each run builds its
    // world from; neither is used after. Refuses (SearchTooLarge) a search of more than
    // kMostPlacements placements, saying how many and how to narrow it.
    Solver(const Environment& world, const Tray& tray);
    ~Solver();
    Solver(const Solver&) = delete;
    Solver& operator=(const Solver&) = delete;

    // Every placement: the accepting zones to the power of the pieces. Placements are searched in
    // a fixed order: the zone of the first piece first, zones in preorder.
    std::uint64_t placements() const;
    // The zones that accept pieces, ascending.
    const std::vector<std::size_t>& accepting() const;

    // Runs the search on `jobs` workers (none but the calling thread for one job and no `poll`, and
    // for a search of small worlds and few placements, which takes milliseconds). With `poll`, the
    // calling thread only waits and calls it about every `every`: it reports progress and returns
    // false to cancel. Whatever a worker or `poll` throws is thrown here once every worker has
    // stopped. One search at a time: each worker's world and lists are kept for the next search.
    SolverResult solve(const SolverOptions& options = {}, const std::function<bool()>& poll = {},
                       std::chrono::milliseconds every = std::chrono::milliseconds(100));

    // Thread-safe: stops a running search soon (it returns what it found, `cancelled` set), and
    // how many placements it has looked at so far.
    void cancel();
    std::uint64_t tried() const;

private:
    struct Plan;
    class World;
    struct Room;
    struct Search;
    std::unique_ptr<Plan> plan_;
    std::vector<std::unique_ptr<Room>> rooms_;  // each worker's, kept for the next search
    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint64_t> tried_{0};
};

}  // namespace orv
