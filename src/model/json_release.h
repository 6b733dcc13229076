// Releasing JSON documents without allocating, so that they can be dropped when memory has run out.
// The JSON library's destructor allocates a stack for any non-empty array or object; release() empties them first.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace orv {

// Room for the walk of release(): one entry per level of nesting. Reserved before a document is
// built, it is what lets the document be released on every way out, a failed allocation included.
class ReleasePath {
public:
    ReleasePath() = default;
    explicit ReleasePath(std::size_t depth) { reserve(depth); }

    // Makes room for documents nested up to `depth` levels (nesting_depth); keeps any larger room.
    // Throws std::bad_alloc when memory has run out.
    void reserve(std::size_t depth) { levels_.reserve(depth + 1); }

private:
    friend void release(nlohmann::json& value, ReleasePath& path) noexcept;
    std::vector<std::pair<nlohmann::json*, nlohmann::json::iterator>> levels_;
};

// Destroys what `value` holds and leaves it null. Each array and object is emptied where it stands,
// children first, in one walk that allocates nothing as long as `value` nests no deeper than `path`
// has room for (a part below that is left to the library's destructor).
void release(nlohmann::json& value, ReleasePath& path) noexcept;

// Empties `value`, an array or object whose members are all scalars, without allocating.
void release_flat(nlohmann::json& value) noexcept;

// Releases a document through its path when the scope ends, by return or by exception.
class ReleasedAtExit {
public:
    ReleasedAtExit(nlohmann::json& value, ReleasePath& path) : value_(value), path_(path) {}
    ~ReleasedAtExit() { release(value_, path_); }
    ReleasedAtExit(const ReleasedAtExit&) = delete;
    ReleasedAtExit& operator=(const ReleasedAtExit&) = delete;

private:
    nlohmann::json& value_;
    ReleasePath& path_;
};

}  // namespace orv
