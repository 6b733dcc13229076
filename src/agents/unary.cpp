// Absolute value and factorial agents: act on single charges.
// Neither spell changes the number of charges in the zone.
#include "agents/unary.h"

#include <cmath>
#include <limits>

namespace orv {

bool AbsMagician::CastSpell(std::vector<Charge>& charges) {
    for (Charge& charge : charges) {
        if (charge.polarity == ChargePolarity::NEGATIVE) {
            charge.visual_id.insert(0, "purified_");
            charge.polarity = ChargePolarity::POSITIVE;
        }
    }
    return !charges.empty();
}

double factorial_of(double magnitude) {
    const double k = std::floor(magnitude);
    if (std::isnan(k)) return k;
    if (k >= 171) return std::numeric_limits<double>::infinity();
    double product = 1.0;
    for (double i = 1; i <= k; i += 1) product = product * i;
    return product;
}

bool FactorialMagician::CastSpell(std::vector<Charge>& charges) {
    if (charges.empty()) return false;
    Charge& last = charges.back();
    if (last.polarity == ChargePolarity::NEGATIVE) return false;
    std::string result_id = "result_factorial_" + visual_id;
    const double product = factorial_of(last.magnitude);
    charges.pop_back();
    charges.emplace_back(product, ChargePolarity::POSITIVE, std::move(result_id));
    return true;
}

}  // namespace orv
