// Arithmetic agents: fold every charge of their zone into one result charge.
// Each spell checks its guards, computes, then replaces the whole list by the result.
#include "agents/arithmetic.h"

#include <cmath>

namespace orv {

namespace {

// Plus and Minus: the sign of r decides, NaN included as negative; the magnitude is |r|.
void replace_by_signed(std::vector<Charge>& charges, double r, std::string visual_id) {
    charges.clear();
    charges.emplace_back(std::fabs(r), r >= 0 ? ChargePolarity::POSITIVE : ChargePolarity::NEGATIVE,
                         std::move(visual_id));
}

// Multiply and Divide: neutral near zero, else the parity of strictly NEGATIVE operands.
void replace_by_parity(std::vector<Charge>& charges, double x, std::string visual_id) {
    std::size_t negatives = 0;
    for (const Charge& charge : charges) negatives += charge.polarity == ChargePolarity::NEGATIVE;
    ChargePolarity polarity = std::fabs(x) < kNearZero ? ChargePolarity::NEUTRAL
                              : negatives % 2 == 1     ? ChargePolarity::NEGATIVE
                                                       : ChargePolarity::POSITIVE;
    charges.clear();
    charges.emplace_back(x, polarity, std::move(visual_id));
}

}  // namespace

bool PlusMagician::CastSpell(std::vector<Charge>& charges) {
    if (charges.size() < 2) return false;
    std::string result_id = "result_" + visual_id;
    double sum = 0.0;
    for (const Charge& charge : charges) sum = sum + signed_value(charge);
    replace_by_signed(charges, sum, std::move(result_id));
    return true;
}

bool MinusMagician::CastSpell(std::vector<Charge>& charges) {
    if (charges.size() < 2) return false;
    std::string result_id = "result_" + visual_id;
    double difference = signed_value(charges.front());
    for (std::size_t i = 1; i < charges.size(); ++i) difference = difference - signed_value(charges[i]);
    replace_by_signed(charges, difference, std::move(result_id));
    return true;
}

bool MultiplyMagician::CastSpell(std::vector<Charge>& charges) {
    if (charges.size() < 2) return false;
    std::string result_id = "result_product_" + visual_id;
    double product = 1.0;
    for (const Charge& charge : charges) product = product * charge.magnitude;
    replace_by_parity(charges, product, std::move(result_id));
    return true;
}

bool DivideMagician::CastSpell(std::vector<Charge>& charges) {
    if (charges.size() < 2) return false;
    for (std::size_t i = 1; i < charges.size(); ++i) {
        if (std::fabs(charges[i].magnitude) < kNearZero) return false;
    }
    std::string result_id = "result_quotient_" + visual_id;
    double quotient = charges.front().magnitude;
    for (std::size_t i = 1; i < charges.size(); ++i) quotient = quotient / charges[i].magnitude;
    replace_by_parity(charges, quotient, std::move(result_id));
    return true;
}

}  // namespace orv
