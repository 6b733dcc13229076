// Charge: the unit of value that lies in a zone, and its polarity.
// A plain value record; how magnitude and polarity combine is up to each agent kind.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "model/text_writer.h"

namespace orv {

enum class ChargePolarity : std::int32_t { POSITIVE = 0, NEGATIVE = 1, NEUTRAL = 2 };

struct Charge {
    Charge(double magnitude, ChargePolarity polarity, std::string visual_id)
        : magnitude(magnitude), polarity(polarity), visual_id(std::move(visual_id)) {}

    double magnitude;
    ChargePolarity polarity;
    std::string visual_id;

    // {"magnitude": <float>, "polarity": "positive"|"negative"|"neutral", "visual_id": ...}
    nlohmann::json to_json() const;
    // The text of to_json(), written straight into `out`.
    void write_json(TextWriter& out) const;
};

// +magnitude for POSITIVE, -magnitude for NEGATIVE and NEUTRAL alike.
inline double signed_value(const Charge& charge) {
    return static_cast<double>(charge.polarity == ChargePolarity::POSITIVE ? 1 : -1) * charge.magnitude;
}

}  // namespace orv
