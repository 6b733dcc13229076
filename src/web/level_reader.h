// Level reader of the web build: a level document (or a bare zone, or one frame report) as text,
// turned into an engine world. Only conversions; each refusal names the JSON path and the value.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "model/environment.h"

namespace orv::web {

// A level that cannot be read: the text says where (a JSON path such as
// "world.sub_environments[1].agents[0].name"), what was expected and what was found.
class LevelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Builds the world of a level in the toolkit's format:
//   {"format": 1, "title": ..., "description": ..., "world": ZONE}, or a bare ZONE,
// where ZONE is {"id", "charges", "agents", "sub_environments", "is_time_frozen"} as the engine
// writes it. Agents are named by their display name ("The Judge") or short kind ("judge").
// The world is built top-down in list order (charges, agents, then sub-zones, each attached while
// still empty), as the toolkit builds it, so that both give the engine the same world.
std::shared_ptr<Environment> read_level(const std::string& text);

}  // namespace orv::web
