// ChargeHandle: what a Python Charge object holds, either its own charge or a place in a zone.
// The staleness test is the only logic here.
#include "bindings/charge_handle.h"

#include <stdexcept>
#include <string>

#include "model/json_text.h"

namespace orv::bindings {

Charge& ChargeHandle::get() {
    if (!zone_) return *own_;
    if (zone_->charges_generation != generation_ || index_ >= zone_->charges.size()) {
        throw std::runtime_error("the charge view is stale: the charges of zone " + quote_name(zone_->id) +
                                 " changed after this item (index " + std::to_string(index_) +
                                 ") was read, so charges must be read again");
    }
    return zone_->charges[index_];
}

}  // namespace orv::bindings
