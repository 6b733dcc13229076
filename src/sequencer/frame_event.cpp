// FrameEvent: what happened in a frame, and the six frame-event texts.
// The texts are defined once here with external linkage.
#include "sequencer/frame_event.h"

namespace orv {

const char* ORV_FRAME_EVENT_CAST_SPELL = "CAST_SPELL";
const char* ORV_FRAME_EVENT_COLLAPSE_ZONE = "COLLAPSE_ZONE";
const char* ORV_FRAME_EVENT_LEVEL_COMPLETE = "LEVEL_COMPLETE";
const char* ORV_FRAME_EVENT_ERROR = "ERROR";
const char* ORV_FRAME_EVENT_FINISHED = "FINISHED";
const char* ORV_FRAME_EVENT_RUNNING = "RUNNING";

}  // namespace orv
