// Power, root, logarithm and modulo agents: work on the end of their zone's charge list.
// Guards all run before the operands are removed; the math is the C library's, unguarded beyond them.
#include "agents/powers.h"

#include <cmath>

#include "agents/arithmetic.h"

namespace orv {

namespace {

double negated_if_negative(const Charge& charge) {
    return charge.polarity == ChargePolarity::NEGATIVE ? -charge.magnitude : charge.magnitude;
}

// Removes the last `count` charges and appends the result in their place.
void replace_last(std::vector<Charge>& charges, std::size_t count, double magnitude, ChargePolarity polarity,
                  std::string visual_id) {
    charges.erase(charges.end() - static_cast<std::ptrdiff_t>(count), charges.end());
    charges.emplace_back(magnitude, polarity, std::move(visual_id));
}

// Odd unless the degree truncates to an even whole number; NaN and infinite degrees count as odd.
bool truncates_to_odd(double degree) { return std::fmod(std::trunc(degree), 2.0) != 0.0; }

}  // namespace

bool PowerSorcerer::CastSpell(std::vector<Charge>& charges) {
    const std::size_t n = charges.size();
    if (n < 2) return false;
    const double base = negated_if_negative(charges[n - 2]);
    const double exponent = negated_if_negative(charges[n - 1]);
    std::string result_id = "result_power_" + visual_id;
    const double r = std::pow(base, exponent);
    const ChargePolarity polarity = r > 0   ? ChargePolarity::POSITIVE
                                    : r < 0 ? ChargePolarity::NEGATIVE
                                            : ChargePolarity::NEUTRAL;
    replace_last(charges, 2, std::fabs(r), polarity, std::move(result_id));
    return true;
}

bool RootMagician::CastSpell(std::vector<Charge>& charges) {
    const std::size_t n = charges.size();
    if (n == 0) return false;
    double r;
    std::size_t consumed;
    if (n == 1) {
        if (charges[0].polarity == ChargePolarity::NEGATIVE) return false;
        r = std::sqrt(charges[0].magnitude);
        consumed = 1;
    } else {
        const double degree = charges[n - 2].magnitude;
        const double radicand = charges[n - 1].magnitude;
        if (radicand < 0 && !truncates_to_odd(degree)) return false;
        // An odd root of a negative radicand is the real one: the cube root of -8 is -2.
        r = radicand < 0 ? -std::pow(-radicand, 1.0 / degree) : std::pow(radicand, 1.0 / degree);
        consumed = 2;
    }
    replace_last(charges, consumed, r, ChargePolarity::POSITIVE, "result_root_" + visual_id);
    return true;
}

bool LogMagician::CastSpell(std::vector<Charge>& charges) {
    const std::size_t n = charges.size();
    if (n == 0) return false;
    const double x = charges[n - 1].magnitude;
    if (x <= 0) return false;
    double r;
    std::size_t consumed;
    if (n == 1) {
        r = std::log10(x);
        consumed = 1;
    } else {
        const double base = charges[n - 2].magnitude;
        if (base <= 0 || base == 1.0) return false;
        r = std::log(x) / std::log(base);
        consumed = 2;
    }
    const ChargePolarity polarity = r >= 0 ? ChargePolarity::POSITIVE : ChargePolarity::NEGATIVE;
    replace_last(charges, consumed, std::fabs(r), polarity, "result_log_" + visual_id);
    return true;
}

bool ModuloMagician::CastSpell(std::vector<Charge>& charges) {
    const std::size_t n = charges.size();
    if (n < 2) return false;
    const double divisor = charges[n - 1].magnitude;
    if (std::fabs(divisor) < kNearZero) return false;
    const double r = std::fmod(charges[n - 2].magnitude, divisor);
    replace_last(charges, 2, r, ChargePolarity::POSITIVE, "result_remainder_" + visual_id);
    return true;
}

}  // namespace orv
