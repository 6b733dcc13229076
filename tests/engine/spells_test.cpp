// Every agent kind's spell on small charge lists: guards at their thresholds, results, polarity,
// result ids, and that a refused spell leaves the whole list exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <limits>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "agents/powers.h"
#include "agents/unary.h"

namespace orv {

// How a failed comparison shows a charge: magnitude to the last bit, polarity number, visual id.
static void PrintTo(const Charge& c, std::ostream* os) {
    *os << std::setprecision(17) << c.magnitude << '/' << static_cast<int>(c.polarity) << '/' << c.visual_id;
}

namespace {

using Maker = std::function<std::shared_ptr<MagicianAgent>()>;
using Rule = InequalityGate::ComparisonType;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
double below(double x) { return std::nextafter(x, 0.0); }

template <class Kind>
Maker make() { return [] { return std::make_shared<Kind>("v"); }; }
const Maker plus = make<PlusMagician>(), minus = make<MinusMagician>(), times = make<MultiplyMagician>(),
            divide = make<DivideMagician>(), power = make<PowerSorcerer>(), root = make<RootMagician>(),
            logarithm = make<LogMagician>(), modulo = make<ModuloMagician>(), purify = make<AbsMagician>(),
            factorial = make<FactorialMagician>(), keeper = make<Chronomancer>();
Maker equals(double target) { return [=] { return std::make_shared<EqualsGate>("v", target); }; }
Maker judge(Rule rule, double target) { return [=] { return std::make_shared<InequalityGate>("v", target, rule); }; }

Charge pos(double m, const char* id = "x") { return Charge(m, ChargePolarity::POSITIVE, id); }
Charge neg(double m, const char* id = "x") { return Charge(m, ChargePolarity::NEGATIVE, id); }
Charge neu(double m, const char* id = "x") { return Charge(m, ChargePolarity::NEUTRAL, id); }

// Magnitudes match when both are NaN, or when they carry the same sign bit (so -0.0 differs from 0.0)
// and agree to the rounding of the math library.
bool same_magnitude(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::signbit(a) == std::signbit(b) && (a == b || std::fabs(a - b) <= 1e-12 * std::fabs(b));
}

bool same(const std::vector<Charge>& a, const std::vector<Charge>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Charge& x, const Charge& y) {
        return same_magnitude(x.magnitude, y.magnitude) && x.polarity == y.polarity && x.visual_id == y.visual_id;
    });
}

struct SpellCase {
    const char* label;
    Maker make;
    std::vector<Charge> before;
    bool acts;
    std::vector<Charge> after;  // empty: the list must be left as it was
};

class Spell : public testing::TestWithParam<SpellCase> {};

TEST_P(Spell, ActsOrLeavesTheListAlone) {
    const SpellCase& c = GetParam();
    auto agent = c.make();
    std::vector<Charge> charges = c.before;
    EXPECT_EQ(agent->CastSpell(charges), c.acts);
    EXPECT_PRED2(same, charges, c.acts && !c.after.empty() ? c.after : c.before);
    EXPECT_EQ(agent->state, AgentState::DORMANT);  // the state is the sequencer's business
    auto* equals = dynamic_cast<EqualsGate*>(agent.get());
    auto* judge = dynamic_cast<InequalityGate*>(agent.get());
    if (equals || judge) {
        EXPECT_EQ(equals ? equals->is_open : judge->is_open, c.acts);
    }
}

const SpellCase kSpells[] = {
    {"Plus_SignedSum", plus, {pos(3), neg(5)}, true, {neg(2, "result_v")}},
    {"Plus_NeutralCountsNegative", plus, {pos(1), neu(4)}, true, {neg(3, "result_v")}},
    {"Plus_ZeroIsPositive", plus, {pos(2), neg(2)}, true, {pos(0.0, "result_v")}},
    {"Plus_InfMinusInfIsNegativeNaN", plus, {pos(kInf), neg(kInf)}, true, {neg(kNaN, "result_v")}},
    {"Plus_OneChargeRefused", plus, {pos(3)}, false, {}},
    {"Minus_LeftToRight", minus, {pos(5), pos(2), pos(1)}, true, {pos(2, "result_v")}},
    {"Minus_SignedOperands", minus, {pos(2), neg(3)}, true, {pos(5, "result_v")}},
    {"Minus_NegativeZeroCleared", minus, {neg(0.0), pos(0.0)}, true, {pos(0.0, "result_v")}},
    {"Multiply_EvenNegatives", times, {neg(2), neg(3), pos(4)}, true, {pos(24, "result_product_v")}},
    {"Multiply_OddNegatives", times, {neg(2), pos(3)}, true, {neg(6, "result_product_v")}},
    {"Multiply_NeutralNotCounted", times, {neu(2), pos(3)}, true, {pos(6, "result_product_v")}},
    {"Multiply_NegativeMagnitudeKept", times, {pos(-2), pos(3)}, true, {pos(-6, "result_product_v")}},
    {"Multiply_NegativeZeroKept", times, {pos(-0.0), neg(3)}, true, {neu(-0.0, "result_product_v")}},
    {"Multiply_AtThresholdNotNeutral", times, {pos(1e-9), pos(1)}, true, {pos(1e-9, "result_product_v")}},
    {"Multiply_BelowThresholdNeutral", times, {pos(below(1e-9)), neg(1)}, true, {neu(below(1e-9), "result_product_v")}},
    {"Divide_DividendCountsInParity", divide, {pos(8), neg(2)}, true, {neg(4, "result_quotient_v")}},
    {"Divide_LastDivisorNearZeroRefused", divide, {pos(8), pos(2), pos(1e-10)}, false, {}},
    {"Divide_NegativeNearZeroRefused", divide, {pos(8), pos(-below(1e-9))}, false, {}},
    {"Divide_DivisorAtThreshold", divide, {pos(2), pos(1e-9)}, true, {pos(2e9, "result_quotient_v")}},
    {"Divide_SmallQuotientNeutral", divide, {pos(1e-10), pos(1)}, true, {neu(1e-10, "result_quotient_v")}},
    {"Divide_NegativeZeroKept", divide, {pos(-0.0), pos(5)}, true, {neu(-0.0, "result_quotient_v")}},
    {"Power_NegativeBaseOdd", power, {neg(2), pos(3)}, true, {neg(8, "result_power_v")}},
    {"Power_NegativeExponent", power, {pos(2), neg(1)}, true, {pos(0.5, "result_power_v")}},
    {"Power_NeutralReadPositive", power, {neu(2), pos(3)}, true, {pos(8, "result_power_v")}},
    {"Power_NaNIsNeutral", power, {neg(2), pos(0.5)}, true, {neu(kNaN, "result_power_v")}},
    {"Power_NegativeZeroCleared", power, {neg(0.0), pos(3)}, true, {neu(0.0, "result_power_v")}},
    {"Power_KeepsEarlierCharges", power, {pos(7, "a"), pos(2), pos(3)}, true, {pos(7, "a"), pos(8, "result_power_v")}},
    {"Power_OneChargeRefused", power, {pos(2)}, false, {}},
    {"Root_SingleSquare", root, {pos(9)}, true, {pos(3, "result_root_v")}},
    {"Root_SingleNeutral", root, {neu(9)}, true, {pos(3, "result_root_v")}},
    {"Root_SingleNegativeRefused", root, {neg(9)}, false, {}},
    {"Root_SingleNegativeZeroKept", root, {pos(-0.0)}, true, {pos(-0.0, "result_root_v")}},
    {"Root_DegreeIgnoresPolarity", root, {pos(7, "a"), pos(2), neg(16)}, true, {pos(7, "a"), pos(4, "result_root_v")}},
    {"Root_EvenDegreeNegativeRefused", root, {pos(2), pos(-16)}, false, {}},
    {"Root_TruncatedEvenRefused", root, {pos(2.9), pos(-16)}, false, {}},
    {"Root_ZeroDegreeNegativeRefused", root, {pos(0), pos(-8)}, false, {}},
    {"Root_HugeEvenDegreeRefused", root, {pos(1e10), pos(-8)}, false, {}},
    {"Root_RealOddRoot", root, {pos(3), pos(-8)}, true, {pos(-2, "result_root_v")}},
    {"Root_HugeOddDegree", root, {pos(3e9 + 1), pos(-1)}, true, {pos(-1, "result_root_v")}},
    {"Root_NaNDegree", root, {pos(kNaN), pos(-8)}, true, {pos(kNaN, "result_root_v")}},
    {"Root_InfiniteDegree", root, {pos(kInf), pos(-8)}, true, {pos(-1, "result_root_v")}},
    {"Root_ZeroDegreeAboveOne", root, {pos(0), pos(4)}, true, {pos(kInf, "result_root_v")}},
    {"Root_EmptyRefused", root, {}, false, {}},
    {"Log_Single", logarithm, {pos(1000)}, true, {pos(3, "result_log_v")}},
    {"Log_SingleFraction", logarithm, {pos(0.01)}, true, {neg(2, "result_log_v")}},
    {"Log_FractionalBase", logarithm, {pos(0.5), pos(8)}, true, {neg(3, "result_log_v")}},
    {"Log_BaseOneRefused", logarithm, {pos(1), pos(8)}, false, {}},
    {"Log_BaseJustAboveOne", logarithm, {pos(1.0000001), pos(8)}, true,
     {pos(std::log(8.0) / std::log(1.0000001), "result_log_v")}},
    {"Log_BaseZeroRefused", logarithm, {pos(0), pos(8)}, false, {}},
    {"Log_ArgumentZeroRefused", logarithm, {pos(2), pos(0)}, false, {}},
    {"Log_NegativeZeroCleared", logarithm, {pos(0.5), pos(1)}, true, {pos(0.0, "result_log_v")}},
    {"Log_NaNIsNegative", logarithm, {pos(kNaN)}, true, {neg(kNaN, "result_log_v")}},
    {"Modulo_Basic", modulo, {pos(9, "a"), pos(7), pos(3)}, true, {pos(9, "a"), pos(1, "result_remainder_v")}},
    {"Modulo_NearZeroRefused", modulo, {pos(7), pos(-1e-10)}, false, {}},
    {"Modulo_AtThreshold", modulo, {pos(0), pos(1e-9)}, true, {pos(0, "result_remainder_v")}},
    {"Modulo_SignOfDividend", modulo, {pos(-7), pos(3)}, true, {pos(-1, "result_remainder_v")}},
    {"Modulo_PolarityIgnored", modulo, {neg(7), pos(3)}, true, {pos(1, "result_remainder_v")}},
    {"Modulo_NegativeZeroKept", modulo, {pos(-0.0), pos(3)}, true, {pos(-0.0, "result_remainder_v")}},
    {"Modulo_OneChargeRefused", modulo, {pos(7)}, false, {}},
    {"Abs_PurifiesInPlace", purify, {neg(5, "a"), pos(2, "b"), neu(0, "c"), neg(-0.0, "d")}, true,
     {pos(5, "purified_a"), pos(2, "b"), neu(0, "c"), pos(-0.0, "purified_d")}},
    {"Abs_NothingToChangeStillActs", purify, {pos(2, "purified_a")}, true, {}},
    {"Abs_EmptyRefused", purify, {}, false, {}},
    {"Factorial_Five", factorial, {pos(2, "a"), pos(3, "b"), pos(5)}, true,
     {pos(2, "a"), pos(3, "b"), pos(120, "result_factorial_v")}},
    {"Factorial_Floor", factorial, {pos(3.7)}, true, {pos(6, "result_factorial_v")}},
    {"Factorial_Neutral", factorial, {neu(4)}, true, {pos(24, "result_factorial_v")}},
    {"Factorial_NegativeRefused", factorial, {pos(4), neg(4)}, false, {}},
    {"Factorial_170", factorial, {pos(170)}, true, {pos(7.257415615307994e306, "result_factorial_v")}},
    {"Factorial_171IsInf", factorial, {pos(171)}, true, {pos(kInf, "result_factorial_v")}},
    {"Factorial_NaN", factorial, {pos(kNaN)}, true, {pos(kNaN, "result_factorial_v")}},
    {"Factorial_MinusInfIsOne", factorial, {pos(-kInf)}, true, {pos(1, "result_factorial_v")}},
    {"Equals_SumOpens", equals(10), {pos(4), pos(6)}, true, {}},
    {"Equals_WithinTolerance", equals(10), {pos(10.0000005)}, true, {}},
    {"Equals_OutsideTolerance", equals(10), {pos(10.000002)}, false, {}},
    {"Equals_ToleranceIsStrict", equals(0), {pos(1e-6)}, false, {}},
    {"Equals_JustInsideTolerance", equals(0), {pos(below(1e-6))}, true, {}},
    {"Equals_NeutralCountsNegative", equals(-3), {neu(3)}, true, {}},
    {"Equals_EmptyNeverOpens", equals(0), {}, false, {}},
    {"Judge_LessThanOpens", judge(Rule::LESS_THAN, 5), {pos(4.999)}, true, {}},
    {"Judge_LessThanStrict", judge(Rule::LESS_THAN, 5), {pos(5)}, false, {}},
    {"Judge_LessEqual", judge(Rule::LESS_EQUAL, 5), {pos(5)}, true, {}},
    {"Judge_GreaterThanNoTolerance", judge(Rule::GREATER_THAN, 0), {pos(1e-300)}, true, {}},
    {"Judge_GreaterEqualZero", judge(Rule::GREATER_EQUAL, 0), {pos(0)}, true, {}},
    {"Judge_UnknownRuleNeverOpens", judge(static_cast<Rule>(7), 0), {pos(1)}, false, {}},
    {"Judge_EmptyNeverOpens", judge(Rule::LESS_EQUAL, 0), {}, false, {}},
    {"Chronomancer_TwoCharges", keeper, {pos(1), pos(2)}, false, {}},
};

void PrintTo(const SpellCase& c, std::ostream* os) { *os << c.label; }
INSTANTIATE_TEST_SUITE_P(AllKinds, Spell, testing::ValuesIn(kSpells),
                         [](const testing::TestParamInfo<SpellCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace orv
