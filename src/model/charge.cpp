// Charge: the unit of value that lies in a zone, and its polarity.
// Only the JSON form lives here; the record itself is plain data.
#include "model/charge.h"

namespace orv {

namespace {

const char* polarity_text(ChargePolarity polarity) {
    switch (polarity) {
        case ChargePolarity::POSITIVE: return "positive";
        case ChargePolarity::NEGATIVE: return "negative";
        default: return "neutral";
    }
}

}  // namespace

nlohmann::json Charge::to_json() const {
    nlohmann::json object = nlohmann::json::object();
    object["magnitude"] = nlohmann::json::number_float_t{magnitude};
    object["polarity"] = polarity_text(polarity);
    object["visual_id"] = visual_id;
    return object;
}

}  // namespace orv
