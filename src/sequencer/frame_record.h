// FrameRecord: what the sequencer's last frame did and where, for whoever follows a run without
// comparing whole worlds. Zones are named by their path: sub-zone indices from the root.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <vector>

namespace orv {

using ZonePath = std::vector<std::size_t>;

struct FrameRecord {
    enum class Action {
        NONE,    // no frame ran: the frame limit was reached, or the run had already finished
        CAST,    // an agent cast (a gate opened) and left its zone
        FOLD,    // a settled sub-zone folded into its parent
        FINISH,  // nothing could cast or fold: the run finished
    };
    Action action = Action::NONE;
    // CAST: the acting agent's zone; FOLD: the parent that the folded zone merged into.
    ZonePath zone;
    // CAST: the agent's index in its zone's list before it left; FOLD: the folded zone's index in
    // its parent's list before it left.
    std::size_t index = 0;
    // The zones whose is_time_frozen changed at the start of this frame (the report shows the new
    // flags), in the order of the freeze walk: sub-zones in list order before their zone. (Paths hold
    // in the world before the frame's cast or fold, which may have carried a flipped zone off or
    // moved it up a place.) Each path is kept as the steps it shares with the path of the flip
    // before it and the steps that follow, so that a frame that flips every zone of a deep chain
    // costs the chain's length, not its square; each_flip gives the paths back.
    struct Flip {
        std::size_t keep = 0;  // the first steps of the previous flip's path that begin this one
        std::size_t tail = 0;  // the steps that follow, the next ones in flip_steps
        bool to = false;       // the flag the zone flipped to
    };
    std::vector<Flip> flips;
    std::vector<std::size_t> flip_steps;

    // Back to a record of no frame, keeping the room of its lists.
    void clear() {
        action = Action::NONE;
        zone.clear();
        index = 0;
        flips.clear();
        flip_steps.clear();
    }

    // Notes one more zone that flipped, to `to`: its path is the first `keep` steps of the previous
    // flip's path, then step(k) for k from `keep` up to `depth`. All or nothing: when a list cannot
    // grow (out of memory), nothing is noted.
    template <typename Step>
    void add_flip(bool to, std::size_t keep, std::size_t depth, Step step) {
        if (flips.size() == flips.capacity()) flips.reserve(2 * flips.size() + 1);
        const std::size_t steps = flip_steps.size();
        try {
            for (std::size_t k = keep; k < depth; ++k) flip_steps.push_back(step(k));
        } catch (...) {
            flip_steps.resize(steps);
            throw;
        }
        // Written in place: a flip built aside and copied in is read back before it is stored.
        Flip& flip = flips.emplace_back();
        flip.keep = keep;
        flip.tail = depth - keep;
        flip.to = to;
    }

    // Calls visit(path, keep, to) for each flip in order: `path` is its zone's path (in room reused
    // from flip to flip), whose first `keep` steps are those of the path before it. Refuses
    // (std::invalid_argument) flips whose steps do not hold together.
    template <typename Visit>
    void each_flip(Visit visit) const {
        ZonePath path;
        std::size_t at = 0;
        for (const Flip& flip : flips) {
            if (flip.keep > path.size() || flip.tail > flip_steps.size() - at) {
                throw std::invalid_argument("the frame record's flipped zones do not hold together");
            }
            path.resize(flip.keep);
            path.insert(path.end(), flip_steps.begin() + static_cast<std::ptrdiff_t>(at),
                        flip_steps.begin() + static_cast<std::ptrdiff_t>(at + flip.tail));
            at += flip.tail;
            visit(static_cast<const ZonePath&>(path), flip.keep, flip.to);
        }
    }
};

// The action as the faces name it: "cast", "fold", "finish", or null for NONE.
inline const char* action_word(FrameRecord::Action action) {
    switch (action) {
        case FrameRecord::Action::CAST: return "cast";
        case FrameRecord::Action::FOLD: return "fold";
        case FrameRecord::Action::FINISH: return "finish";
        case FrameRecord::Action::NONE: break;
    }
    return nullptr;
}

}  // namespace orv
