// Frames as changes: the JSON Patch (RFC 6902) that turns the previous report of a run into the
// next one, written from the frame's record, so a frame costs what it changed.
#pragma once

#include <string>
#include <string_view>

#include "model/environment.h"
#include "model/text_writer.h"
#include "sequencer/frame_record.h"
#include "sequencer/sequencer.h"

namespace orv {

// Writes the patch of the frame that `sequencer` has just run (with `outcome`, as run_frame gave it)
// into `out`: one array of "add", "remove" and "replace" operations. Applied in order to the
// document before the frame (the world before frame 1 for the first frame, `first` true; the
// previous report after it), it gives exactly the frame's report. The operations: the freeze flags
// that flipped, then for a cast the removal of the agent and the zone's new charges (unless a gate
// opened, which leaves them as they were), for a fold the removal of the sub-zone and the charge
// it appended to its parent, and last the report's "meta". Refuses (std::length_error, as the
// report would be refused) a patch that names a zone deeper than a report can nest.
void write_changes(TextWriter& out, const NarrativeSequencer& sequencer, const NarrativeSequencer::Outcome& outcome,
                   bool first);

// `document` (JSON text) with `patch` (a JSON Patch text of add, remove and replace operations)
// applied, as compact JSON text: how a change stream gives back its reports. Refuses
// (std::invalid_argument, in the toolkit's words) text that is not JSON, a patch that is not a list of
// such operations, and an operation whose place is not in the document.
std::string apply_changes(std::string_view document, std::string_view patch);

// The JSON Pointer (RFC 6901) of the zone at `path`: "" for the root, "/sub_environments/1/..." below.
std::string zone_pointer(const ZonePath& path);

}  // namespace orv
