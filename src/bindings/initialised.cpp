// Objects made by __new__ without __init__, and the thread-local storage every bound call needs.
// Only the preparation of the calling thread lives here; the checks are templates in the header.
#include "bindings/initialised.h"

#include <exception>

namespace orv::bindings {

namespace {

// Any thread-local of this module: touching one sets up the module's whole block for the thread.
thread_local volatile bool prepared = false;

}  // namespace

void prepare_thread() {
    if (prepared) return;
    // The runtime declares uncaught_exceptions pure; keeping its result keeps the call.
    [[maybe_unused]] static volatile int in_flight;
    in_flight = std::uncaught_exceptions();
    prepared = true;
}

}  // namespace orv::bindings
