// ChargeHandle: what a Python Charge object holds, either its own charge or a place in a zone.
// A place is checked against the zone's charge generation before every use, so a stale item fails cleanly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "model/environment.h"

namespace orv::bindings {

class ChargeHandle {
public:
    // A charge built in Python, owned by its object alone.
    explicit ChargeHandle(Charge charge) : own_(std::move(charge)) {}
    // The charge at `index` of `zone`'s charges as they are now.
    ChargeHandle(std::shared_ptr<Environment> zone, std::size_t index)
        : zone_(std::move(zone)), index_(index), generation_(zone_->charges_generation) {}

    // The charge itself; throws std::runtime_error when the zone's charges changed as a list since the read.
    Charge& get();

private:
    std::optional<Charge> own_;
    std::shared_ptr<Environment> zone_;
    std::size_t index_ = 0;
    std::uint64_t generation_ = 0;
};

}  // namespace orv::bindings
