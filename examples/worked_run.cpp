// worked_run: steps the smallest complete story and prints each frame's report.
// Zone S folds 2 + 3 with a Plus Magician, collapses into R, and R's Equals Gate opens at 5.
#include <iostream>
#include <memory>

#include "agents/arithmetic.h"
#include "agents/gates.h"
#include "model/json_text.h"
#include "sequencer/sequencer.h"

int main() {
    auto root = std::make_shared<orv::Environment>("R");
    root->add_magician(std::make_shared<orv::EqualsGate>("gate", 5.0));
    auto sub = std::make_shared<orv::Environment>("S");
    sub->add_charge(orv::Charge(2.0, orv::ChargePolarity::POSITIVE, "two"));
    sub->add_charge(orv::Charge(3.0, orv::ChargePolarity::POSITIVE, "three"));
    sub->add_magician(std::make_shared<orv::PlusMagician>("plus"));
    root->add_environment(sub);

    orv::NarrativeSequencer sequencer(root);
    for (int call = 0; call < 5; ++call) std::cout << orv::to_text(sequencer.NextFrame()) << '\n';
}
