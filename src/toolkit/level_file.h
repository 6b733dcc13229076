// Level files: a level (or a bare zone, or one frame report) read into an engine world, and a world
// written back as a level with its numbers exact. Every refusal names the JSON path and the value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/environment.h"
#include "sequencer/frame_event.h"
#include "toolkit/pieces.h"

namespace orv {

// A level that cannot be read. what() is "PATH: expected EXPECTED, found FOUND" ("(top level)" for
// an empty path, no "PATH: " when there is no path, no ", found ..." when nothing is found).
class LevelError : public std::runtime_error {
public:
    LevelError(std::optional<std::string> path, std::string expected, std::optional<std::string> found);
    // The JSON path of the fault ("world.sub_environments[1].agents[0].name"; "" for the whole
    // document; "line 2, column 13" for text that is not JSON); none for bytes that are not UTF-8.
    std::optional<std::string> path;
    std::string expected;
    std::optional<std::string> found;
};

struct Level {
    // None when the document has no title (a bare zone, a report): callers name it after the file.
    std::optional<std::string> title;
    std::string description;
    std::shared_ptr<Environment> world;
    // For one frame report: its meta's frame_index (0 when the meta has none), status ("" when it has
    // none) and last_event (none when null or absent); none, "" and none for a level or a bare zone.
    std::optional<std::int32_t> frame;
    std::string status;
    std::optional<FrameEvent> event;
    // A puzzle's pieces and the zones that accept them (its "pieces" and "accepts"); no pieces and
    // none for a finished world. Zones are numbered in the world's preorder.
    Tray tray;
};

// Reads a level in any of its three shapes, built top-down in list order (charges, agents, then
// sub-zones, each attached while still empty). Linear in the text; nesting is limited by memory only;
// the text must be under 4 GiB. The JSON is read as Python's json module reads it (NaN and Infinity,
// floats past a double's range as infinities), and faults are placed and worded as the toolkit's Python
// loader gave them. Magnitudes and targets are numbers, null (NaN) or the strings "inf", "-inf", "nan".
// A level object may hold a puzzle's "pieces" and "accepts", read after its world (docs/levels.md).
Level read_level(std::string_view text);

// `world` as a level file: {"format", "title", "description", "world"}, the world as the engine's
// zone JSON, written as Python's json.dumps(indent=2, ensure_ascii=False) writes it (a world nested
// past 1,000 JSON levels on one line, with its ", " and ": " separators), and a newline at the end.
// Finite numbers are written in their shortest form that reads back exactly, -0.0 included, and
// non-finite ones as "inf", "-inf" and "nan", so that reading the text gives the same world bit for
// bit (but for a NaN's sign and payload). A puzzle's `tray` is written before the world, its "pieces"
// as the world's agents and its "accepts" as zone paths of `world`. Refuses (std::invalid_argument) a
// text that is not UTF-8, and an accepted zone whose path names another zone too.
std::string write_level(const Environment& world, const std::string& title, const std::string& description,
                        const Tray& tray = {});

}  // namespace orv
