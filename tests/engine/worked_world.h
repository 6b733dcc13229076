// The worked world that several engine tests start from: root R with an Equals Gate at 5, and a
// sub-zone S holding charges 2 and 3 and a Plus Magician.
#pragma once

#include <memory>

#include "agents/arithmetic.h"
#include "agents/gates.h"
#include "model/environment.h"

namespace orv {

inline std::shared_ptr<Environment> worked_world() {
    auto root = std::make_shared<Environment>("R");
    root->add_magician(std::make_shared<EqualsGate>("gate", 5.0));
    auto sub = std::make_shared<Environment>("S");
    sub->add_charge(Charge(2.0, ChargePolarity::POSITIVE, "a"));
    sub->add_charge(Charge(3.0, ChargePolarity::POSITIVE, "b"));
    sub->add_magician(std::make_shared<PlusMagician>("p"));
    root->add_environment(sub);
    return root;
}

}  // namespace orv
