// Solver: the puzzle taken apart once into a plan of plain values, from which every run builds its
// own world; workers take the placements in chunks, in the search's order, and share nothing else.
#include "toolkit/solver.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "sequencer/sequencer.h"
#include "toolkit/kinds.h"
#include "toolkit/verdict.h"

namespace orv {

namespace {

constexpr std::uint64_t kChunk = 64;  // placements a worker takes at a time
// Searches of at most so many zones in all their worlds (placements times zones) run on the calling
// thread alone: they take milliseconds, less than starting workers would.
constexpr std::uint64_t kSmallSearch = 16384;
constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

}  // namespace

// ---------------------------------------------------------------- the plan

struct Solver::Plan {
    struct Agent {
        const AgentKind* kind = nullptr;
        std::string visual_id;
        double target = 0.0;
        std::string rule;

        std::shared_ptr<const MagicianAgent> made;  // one as it is made, which the workers' agents copy

        explicit Agent(const MagicianAgent& live) : kind(kind_of(live)), visual_id(live.visual_id) {
            if (kind == nullptr) throw std::invalid_argument("the agent \"" + live.name + "\" is of no known kind");
            target = target_of(live).value_or(0.0);
            const char* text = rule_of(live);
            rule = text ? text : "";
            made = kind->make(visual_id, target, rule);
        }
        std::shared_ptr<MagicianAgent> make() const { return kind->make(visual_id, target, rule); }
        // Whether both build the same agent (NaN targets alike, -0.0 apart as level files write it).
        bool same(const Agent& other) const {
            const bool targets = (std::isnan(target) && std::isnan(other.target)) ||
                                 std::memcmp(&target, &other.target, sizeof target) == 0;
            return kind == other.kind && visual_id == other.visual_id && targets && rule == other.rule;
        }
    };
    struct Zone {
        std::string id;
        std::vector<Charge> charges;
        std::vector<Agent> agents;
        std::vector<std::size_t> subs;  // preorder numbers, in list order
        bool frozen = false;
    };

    std::vector<Zone> zones;  // in preorder
    std::vector<Agent> pieces;
    std::vector<std::size_t> accepting;
    // For each piece, the first piece of the tray that is the same agent; placements that differ only
    // in which of such twins goes where may build the same world.
    std::vector<std::size_t> twin;
    bool twins = false;
    std::uint64_t placements = 0;

    Plan(const Environment& world, const Tray& tray) {
        // Preorder with a stack; sub-zones are pushed in reverse, so each zone's are taken in list order.
        std::vector<std::pair<const Environment*, std::size_t>> stack{{&world, 0}};
        while (!stack.empty()) {
            const auto [live, parent] = stack.back();
            stack.pop_back();
            const std::size_t number = zones.size();
            Zone zone{live->id, live->charges, {}, {}, live->is_time_frozen};
            for (const auto& agent : live->agents) zone.agents.emplace_back(*agent);
            zones.push_back(std::move(zone));
            if (number != 0) zones[parent].subs.push_back(number);
            for (auto it = live->sub_environments.rbegin(); it != live->sub_environments.rend(); ++it) {
                stack.emplace_back(it->get(), number);
            }
        }
        for (const auto& piece : tray.pieces) pieces.emplace_back(*piece);
        accepting = accepting_zones(world, tray);
        placements = count(tray);
        // Twins matter only where there are several placements: then there are at most 29 pieces.
        twin.resize(pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            twin[i] = i;
            for (std::size_t j = 0; j < i && twin[i] == i && placements > 1; ++j) {
                if (pieces[j].same(pieces[i])) twin[i] = j;
            }
            twins = twins || twin[i] != i;
        }
    }

    std::uint64_t count(const Tray& tray) const {
        const std::uint64_t zones_each = accepting.size();
        std::uint64_t total = 1;
        bool over = false;
        for (std::size_t i = 0; i < pieces.size() && !over; ++i) {
            if (zones_each == 0) {
                total = 0;
                break;
            }
            over = total > kMostPlacements / zones_each;
            total *= zones_each;
            over = over || total > kMostPlacements;
        }
        if (over) {
            const std::string power = std::to_string(zones_each) + "^" + std::to_string(pieces.size());
            const bool fits = std::log10(static_cast<double>(zones_each)) * static_cast<double>(pieces.size()) < 19.0;
            std::uint64_t exact = 1;
            for (std::size_t i = 0; fits && i < pieces.size(); ++i) exact *= zones_each;
            throw SearchTooLarge("a search of " + power + (fits ? " = " + grouped(exact) : std::string()) +
                                 " placements (" + counted(pieces.size(), "piece") + ", each into any of " +
                                 counted(zones_each, "zone") + ") is more than the solver takes on (" +
                                 grouped(kMostPlacements) + "): name fewer zones in \"accepts\"" +
                                 (tray.accepts ? "" : " (every zone accepts pieces now)") +
                                 " or take pieces out of the tray");
        }
        return total;
    }

    // Room for first_of_its_world, one for each worker.
    struct Twins {
        std::vector<std::vector<std::size_t>> queue;  // the pieces each zone gets, as their first twin
        std::vector<std::size_t> head;                // how many of them are given out so far
        std::vector<std::size_t> used;                // the zones that get pieces, ascending
        std::set<std::vector<std::size_t>> stuck;     // heads (of the used zones) from which nothing fits
        std::vector<std::size_t> key;
    };

    // Whether the placement is the first, in the search's order, of those that build its world: a
    // world is the sequence of pieces each zone gets, so another placement builds it when it sends
    // twins elsewhere and every zone still gets the same sequence. (With twins and more than one
    // accepting zone there are at most 29 pieces, the search being at most a billion placements.)
    bool first_of_its_world(const std::vector<std::size_t>& digits, Twins& t) const {
        t.used.assign(digits.begin(), digits.end());
        std::sort(t.used.begin(), t.used.end());
        t.used.erase(std::unique(t.used.begin(), t.used.end()), t.used.end());
        if (t.queue.size() < accepting.size()) {
            t.queue.resize(accepting.size());
            t.head.resize(accepting.size());
        }
        for (std::size_t z : t.used) {
            t.queue[z].clear();
            t.head[z] = 0;
        }
        t.stuck.clear();
        for (std::size_t p = 0; p < digits.size(); ++p) t.queue[digits[p]].push_back(twin[p]);
        for (std::size_t p = 0; p < digits.size(); ++p) {
            for (std::size_t z : t.used) {
                if (z >= digits[p]) break;
                if (t.head[z] < t.queue[z].size() && t.queue[z][t.head[z]] == twin[p]) {
                    ++t.head[z];
                    const bool other = completes(p + 1, t);
                    --t.head[z];
                    if (other) return false;
                }
            }
            ++t.head[digits[p]];
        }
        return true;
    }

    // Whether the pieces from `p` on can be sent to zones so that each zone's sequence is filled.
    // Heads found to lead nowhere are remembered, so the search is as long as there are heads.
    bool completes(std::size_t p, Twins& t) const {
        if (p == pieces.size()) return true;
        t.key.clear();
        for (std::size_t z : t.used) t.key.push_back(t.head[z]);
        if (t.stuck.count(t.key)) return false;
        for (std::size_t z : t.used) {
            if (t.head[z] < t.queue[z].size() && t.queue[z][t.head[z]] == twin[p]) {
                ++t.head[z];
                const bool done = completes(p + 1, t);
                --t.head[z];
                if (done) return true;
            }
        }
        t.key.clear();
        for (std::size_t z : t.used) t.key.push_back(t.head[z]);
        t.stuck.insert(t.key);
        return false;
    }
};

// ---------------------------------------------------------------- a worker's world

// One worker's world, built once from the plan and put back as the plan has it before each run:
// only what the last run changed is set again, and nothing is allocated. Its zones and agents are
// those of no other worker. An agent whose spell never took effect is as it was made (a spell that
// does not take effect changes nothing, and the frame puts the agent back to dormant), so only the
// agents that acted are copied back from the plan's.
class Solver::World {
public:
    // The world of a placement (`digits`: each piece's place in the accepting zones), as the level
    // reader would build it, each piece after its zone's own agents, in the tray's order.
    std::shared_ptr<Environment> set(const Plan& plan, const std::vector<std::size_t>& digits) {
        if (zones_.empty()) {
            for (const Plan::Zone& zone : plan.zones) {
                zones_.push_back(std::make_shared<Environment>(zone.id));
                agents_.emplace_back(zone.agents.size());
            }
            pieces_.resize(plan.pieces.size());
            generations_.assign(zones_.size(), ~std::uint64_t{0});
        }
        for (std::size_t i = 0; i < zones_.size(); ++i) {
            const Plan::Zone& plan_zone = plan.zones[i];
            std::vector<std::shared_ptr<MagicianAgent>>& own = agents_[i];
            for (std::size_t a = 0; a < own.size(); ++a) renew(own[a], plan_zone.agents[a]);
            Environment& zone = *zones_[i];
            // A run changes a zone's charges only by a cast or a fold, which mark them changed, and
            // its sub-zones only by folds, which take some out; its agents go back to its own.
            if (zone.charges_generation != generations_[i]) {
                zone.charges.assign(plan_zone.charges.begin(), plan_zone.charges.end());
                zone.touch_charges();
                generations_[i] = zone.charges_generation;
            }
            if (zone.agents.size() < own.size() || !std::equal(own.begin(), own.end(), zone.agents.begin())) {
                zone.agents.assign(own.begin(), own.end());
            } else {
                zone.agents.resize(own.size());
            }
            if (zone.sub_environments.size() != plan_zone.subs.size()) {
                zone.sub_environments.clear();
                for (std::size_t sub : plan_zone.subs) zone.sub_environments.push_back(zones_[sub]);
            }
            zone.places = i == 0 ? 0 : 1;  // each zone but the root is held by its parent alone
            zone.is_time_frozen = plan_zone.frozen;
        }
        for (std::size_t p = 0; p < pieces_.size(); ++p) {
            renew(pieces_[p], plan.pieces[p]);
            zones_[plan.accepting[digits[p]]]->agents.push_back(pieces_[p]);
        }
        return zones_.front();
    }

private:
    // Makes the agent when there is none yet, and makes it again as it was made when it acted in the
    // last run (in place: nothing reads the last run's agents any more).
    static void renew(std::shared_ptr<MagicianAgent>& agent, const Plan::Agent& plan) {
        if (!agent) {
            agent = plan.make();
        } else if (agent->state != AgentState::DORMANT) {
            plan.kind->copy(*agent, *plan.made);
        }
    }

    std::vector<std::shared_ptr<Environment>> zones_;                   // in preorder
    std::vector<std::vector<std::shared_ptr<MagicianAgent>>> agents_;  // each zone's own
    std::vector<std::shared_ptr<MagicianAgent>> pieces_;
    std::vector<std::uint64_t> generations_;  // each zone's charges_generation when its charges were last set
};

// ---------------------------------------------------------------- the search

// A solution as a worker notes it: its frames, its place in the search's order and its digits.
struct Found {
    std::int32_t frames = 0;
    std::uint64_t index = kNone;
    std::vector<std::size_t> digits;
};

// What a worker keeps between runs and between searches: its world, the sequencer that runs it, and
// the room of what it finds.
struct Solver::Room {
    World world;
    std::optional<NarrativeSequencer> sequencer;
    std::vector<std::size_t> digits;  // the placement being run
    Plan::Twins twins;
    // This search's: the solutions found, the best of them, and the first `keep` in its order.
    std::uint64_t solutions = 0;
    Found best;
    std::vector<Found> kept;

    void begin(std::size_t pieces) {
        digits.assign(pieces, 0);
        solutions = 0;
        best.index = kNone;
        kept.clear();
    }
};

struct Solver::Search {
    const Plan& plan;
    std::vector<std::unique_ptr<Room>>& rooms;
    const SolverOptions& options;
    std::atomic<bool>& cancelled;
    std::atomic<std::uint64_t>& tried;
    std::atomic<std::uint64_t> next{0};
    std::atomic<std::uint64_t> first_found{kNone};
    std::atomic<bool> failed{false};
    std::mutex lock;
    std::exception_ptr error;

    Search(const Plan& plan, std::vector<std::unique_ptr<Room>>& rooms, const SolverOptions& options,
           std::atomic<bool>& cancelled, std::atomic<std::uint64_t>& tried)
        : plan(plan), rooms(rooms), options(options), cancelled(cancelled), tried(tried) {}

    bool stopped() const { return cancelled.load(std::memory_order_relaxed) || failed.load(std::memory_order_relaxed); }

    void work(unsigned worker) {
        try {
            run(worker);
        } catch (...) {
            // A frame cut short may have changed the world where the next search would not look.
            rooms[worker].reset();
            std::lock_guard<std::mutex> held(lock);
            if (!error) error = std::current_exception();
            failed = true;
        }
    }

    void run(unsigned worker) {
        const std::size_t pieces = plan.pieces.size();
        const std::uint64_t base = plan.accepting.size();
        Room& room = *rooms[worker];
        std::vector<std::size_t>& digits = room.digits;
        while (!stopped()) {
            const std::uint64_t start = next.fetch_add(kChunk);
            if (start >= plan.placements) return;
            if (options.first && start > first_found.load()) return;
            const std::uint64_t end = std::min(plan.placements, start + kChunk);
            // The digits of `start`, the first piece's the most significant.
            std::uint64_t rest = start;
            for (std::size_t p = pieces; p-- > 0;) {
                digits[p] = static_cast<std::size_t>(rest % base);
                rest /= base;
            }
            std::uint64_t k = start;
            for (; k < end && !stopped(); ++k) {
                if (options.first && k > first_found.load(std::memory_order_relaxed)) break;
                if (k != start) {
                    for (std::size_t p = pieces; p-- > 0;) {
                        if (++digits[p] < base) break;
                        digits[p] = 0;
                    }
                }
                if (plan.twins && !plan.first_of_its_world(digits, room.twins)) continue;
                std::shared_ptr<Environment> root = room.world.set(plan, digits);
                if (room.sequencer) {
                    room.sequencer->restart(std::move(root));
                } else {
                    room.sequencer.emplace(std::move(root));
                    room.sequencer->tells_events = false;  // the run is judged by its records alone
                }
                std::int32_t frames = 0;
                if (!solves(*room.sequencer, plan.zones.size(), frames)) continue;
                ++room.solutions;
                Found& best = room.best;
                if (best.index == kNone || frames < best.frames) {
                    best.frames = frames;
                    best.index = k;
                    best.digits = digits;
                }
                if (room.kept.size() < options.keep) room.kept.push_back(Found{frames, k, digits});
                if (options.first) {
                    std::uint64_t seen = first_found.load();
                    while (k < seen && !first_found.compare_exchange_weak(seen, k)) {
                    }
                    break;
                }
            }
            tried.fetch_add(k - start);
        }
    }

    // Runs the world of `zones` zones to its end; whether it is solved, and in how many frames.
    static bool solves(NarrativeSequencer& sequencer, std::size_t zones, std::int32_t& frames) {
        // A frame that finishes the run or reaches the frame limit leaves the sequencer finished.
        std::size_t folds = 0;
        while (!sequencer.is_finished) {
            sequencer.run_frame();
            if (sequencer.last_record.action == FrameRecord::Action::FOLD) ++folds;
        }
        frames = sequencer.current_frame;
        // A run stopped by the frame limit ends with a frame that did nothing.
        return sequencer.last_record.action == FrameRecord::Action::FINISH &&
               finished_run_solved(*sequencer.root_environment, zones, folds);
    }
};

// ---------------------------------------------------------------- the solver

Solver::Solver(const Environment& world, const Tray& tray) : plan_(std::make_unique<Plan>(world, tray)) {}
Solver::~Solver() = default;

std::uint64_t Solver::placements() const { return plan_->placements; }
const std::vector<std::size_t>& Solver::accepting() const { return plan_->accepting; }

void Solver::cancel() { cancelled_ = true; }
std::uint64_t Solver::tried() const { return tried_.load(); }

SolverResult Solver::solve(const SolverOptions& options, const std::function<bool()>& poll,
                           std::chrono::milliseconds every) {
    cancelled_ = false;
    tried_ = 0;
    unsigned jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    // More workers than chunks would only wait.
    const std::uint64_t chunks = plan_->placements / kChunk + 1;
    if (jobs > chunks) jobs = static_cast<unsigned>(chunks);
    const bool small = plan_->placements <= kSmallSearch / plan_->zones.size();
    if (small) jobs = 1;
    if (rooms_.size() < jobs) rooms_.resize(jobs);
    for (unsigned w = 0; w < jobs; ++w) {
        if (!rooms_[w]) rooms_[w] = std::make_unique<Room>();
    }
    for (unsigned w = 0; w < jobs; ++w) rooms_[w]->begin(plan_->pieces.size());
    Search search(*plan_, rooms_, options, cancelled_, tried_);

    std::exception_ptr poll_error;
    if (small || (!poll && jobs == 1)) {
        search.work(0);
    } else {
        std::mutex lock;
        std::condition_variable done;
        unsigned running = jobs;
        std::vector<std::thread> workers;
        const auto start = [&](unsigned worker) {
            search.work(worker);
            std::lock_guard<std::mutex> held(lock);
            --running;
            done.notify_all();
        };
        const unsigned threads = poll ? jobs : jobs - 1;
        try {
            for (unsigned w = 0; w < threads; ++w) workers.emplace_back(start, w);
        } catch (...) {
            cancel();
            for (std::thread& worker : workers) worker.join();
            throw;
        }
        if (!poll) start(jobs - 1);
        std::unique_lock<std::mutex> held(lock);
        bool stopping = false;  // once cancelled, the workers are only waited for
        while (running != 0) {
            if (done.wait_for(held, every, [&] { return running == 0; })) break;
            if (!poll || stopping) continue;
            held.unlock();
            try {
                if (!poll()) cancel(), stopping = true;
            } catch (...) {
                if (!poll_error) poll_error = std::current_exception();
                cancel();
                stopping = true;
            }
            held.lock();
        }
        held.unlock();
        for (std::thread& worker : workers) worker.join();
    }
    if (search.error) std::rethrow_exception(search.error);
    if (poll_error) std::rethrow_exception(poll_error);

    SolverResult result;
    result.cancelled = cancelled_.load();
    const std::uint64_t first = search.first_found.load();
    const Found* shortest = nullptr;
    for (unsigned w = 0; w < jobs; ++w) {
        const Found& best = rooms_[w]->best;
        if (best.index == kNone) continue;
        if (options.first) {
            if (best.index == first) shortest = &best;
            continue;
        }
        result.solutions += rooms_[w]->solutions;
        if (!shortest || best.frames < shortest->frames || (best.frames == shortest->frames && best.index < shortest->index)) {
            shortest = &best;
        }
    }
    if (options.first && first != kNone && !result.cancelled) {
        result.solutions = 1;
        result.tried = first + 1;
    } else {
        result.tried = tried_.load();
        result.exhaustive = !result.cancelled && result.tried == plan_->placements;
    }
    const auto solution = [&](const Found& found) {
        Solution made;
        made.frames = found.frames;
        for (std::size_t digit : found.digits) made.zones.push_back(plan_->accepting[digit]);
        return made;
    };
    if (shortest && (!options.first || !result.cancelled)) result.shortest = solution(*shortest);
    // Each worker kept its own first solutions (its chunks come in order), so the first of all are among them.
    std::vector<const Found*> listed;
    for (unsigned w = 0; w < jobs; ++w) {
        for (const Found& found : rooms_[w]->kept) {
            if (!options.first || found.index <= first) listed.push_back(&found);
        }
    }
    std::sort(listed.begin(), listed.end(), [](const Found* a, const Found* b) { return a->index < b->index; });
    for (std::size_t i = 0; i < listed.size() && i < options.keep; ++i) result.listed.push_back(solution(*listed[i]));
    return result;
}

}  // namespace orv
