// FrameEvent: what happened in a frame, and the six frame-event texts.
// The texts are writable pointer variables; the sequencer reads them when it builds a frame.
#pragma once

#include <string>

namespace orv {

extern const char* ORV_FRAME_EVENT_CAST_SPELL;
extern const char* ORV_FRAME_EVENT_COLLAPSE_ZONE;
extern const char* ORV_FRAME_EVENT_LEVEL_COMPLETE;
extern const char* ORV_FRAME_EVENT_ERROR;
extern const char* ORV_FRAME_EVENT_FINISHED;
extern const char* ORV_FRAME_EVENT_RUNNING;

struct FrameEvent {
    std::string agent_name;
    std::string visual_id;
    std::string type;
    std::string description;
};

}  // namespace orv
