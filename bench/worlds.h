// The benchmark worlds of bench/worlds.py built in C++, for the C++ benchmark programs: each runs to
// its end and changes a little in every frame (see worlds.py for what each one does).
#pragma once

#include <memory>

#include "model/environment.h"

namespace orv::bench {

// `zones` sub-zones of the root, each with 10 charges, a Plus Magician and two gates.
std::shared_ptr<Environment> wide(int zones);
// A chain of `zones` nested zones, one charge and a Plus Magician each (two charges innermost).
std::shared_ptr<Environment> deep(int zones);
// One zone with `agents` agents (Chronomancers and gates) and 10 charges.
std::shared_ptr<Environment> crowd(int agents);

}  // namespace orv::bench
