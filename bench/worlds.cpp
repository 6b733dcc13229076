// The benchmark worlds of bench/worlds.py built in C++ (wide, deep and crowd), kept in step with it.
// Shared by the C++ benchmark programs.
#include "worlds.h"

#include <string>
#include <vector>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"

namespace orv::bench {

std::shared_ptr<Environment> wide(int zones) {
    auto root = std::make_shared<Environment>("wide_root");
    root->add_magician(std::make_shared<EqualsGate>("root_gate", 0.0));
    for (int z = 0; z < zones; ++z) {
        auto zone = std::make_shared<Environment>("zone_" + std::to_string(z));
        double total = 0.0;
        for (int c = 0; c < 10; ++c) {
            const double magnitude = static_cast<double>(c + 1) + z / 1000.0;
            const ChargePolarity polarity = c % 3 == 2 ? ChargePolarity::NEGATIVE : ChargePolarity::POSITIVE;
            total += polarity == ChargePolarity::NEGATIVE ? -magnitude : magnitude;
            zone->add_charge(Charge(magnitude, polarity, "z" + std::to_string(z) + "_c" + std::to_string(c)));
        }
        zone->add_magician(std::make_shared<PlusMagician>("plus_" + std::to_string(z)));
        zone->add_magician(std::make_shared<EqualsGate>("gate_" + std::to_string(z), total));
        zone->add_magician(
            std::make_shared<InequalityGate>("judge_" + std::to_string(z), -1.0e6, InequalityGate::GREATER_EQUAL));
        root->add_environment(zone);
    }
    return root;
}

std::shared_ptr<Environment> deep(int zones) {
    std::vector<std::shared_ptr<Environment>> chain;
    for (int d = 0; d < zones; ++d) {
        auto zone = std::make_shared<Environment>("level_" + std::to_string(d));
        zone->add_charge(Charge(1.0 + d / 10.0, ChargePolarity::POSITIVE, "l" + std::to_string(d) + "_c0"));
        if (d == zones - 1) zone->add_charge(Charge(0.5, ChargePolarity::POSITIVE, "l" + std::to_string(d) + "_c1"));
        zone->add_magician(std::make_shared<PlusMagician>("plus_" + std::to_string(d)));
        chain.push_back(zone);
    }
    for (std::size_t d = 1; d < chain.size(); ++d) chain[d - 1]->add_environment(chain[d]);
    return chain.front();
}

std::shared_ptr<Environment> crowd(int agents) {
    auto root = std::make_shared<Environment>("crowd");
    for (int c = 0; c < 10; ++c) {
        root->add_charge(Charge(static_cast<double>(c + 1), ChargePolarity::POSITIVE, "c" + std::to_string(c)));
    }
    for (int a = 0; a < agents; ++a) {
        const std::string n = std::to_string(a);
        switch (a % 5) {
            case 0: root->add_magician(std::make_shared<Chronomancer>("time_" + n)); break;
            case 1: root->add_magician(std::make_shared<EqualsGate>("eq_" + n, -1.0)); break;
            default:
                root->add_magician(
                    std::make_shared<InequalityGate>("judge_" + n, 0.0, InequalityGate::GREATER_EQUAL));
        }
    }
    return root;
}

}  // namespace orv::bench
