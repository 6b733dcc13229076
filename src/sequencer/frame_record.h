// FrameRecord: what the sequencer's last frame did and where, for whoever follows a run without
// comparing whole worlds. Zones are named by their path: sub-zone indices from the root.
#pragma once

#include <cstddef>
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
    // flags), in the order of the freeze walk: sub-zones in list order before their zone.
    std::vector<ZonePath> flipped;
    // The flag each of them flipped to, in the same order. (Paths hold in the world before the
    // frame's cast or fold, which may have carried a flipped zone off or moved it up a place.)
    std::vector<bool> flipped_to;

    // Back to a record of no frame, keeping the room of its lists (the paths' too, for add_flip).
    void clear() {
        action = Action::NONE;
        zone.clear();
        index = 0;
        while (!flipped.empty()) {
            spare_.push_back(std::move(flipped.back()));
            flipped.pop_back();
        }
        flipped_to.clear();
    }

    // Notes one more zone that flipped, to `to`, at the path that place(path) writes into an empty
    // path. All or nothing: a place or a list that cannot grow (out of memory) notes nothing.
    template <typename Place>
    void add_flip(bool to, Place place) {
        ZonePath path;
        if (!spare_.empty()) {
            path = std::move(spare_.back());
            spare_.pop_back();
            path.clear();
        }
        place(path);
        if (flipped.size() == flipped.capacity()) flipped.reserve(2 * flipped.size() + 1);
        if (flipped_to.size() == flipped_to.capacity()) flipped_to.reserve(2 * flipped_to.size() + 1);
        flipped.push_back(std::move(path));
        flipped_to.push_back(to);
    }

private:
    std::vector<ZonePath> spare_;  // paths' room from earlier frames
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
