// Charge: the unit of value that lies in a zone, and its polarity.
// Only the JSON form lives here; the record itself is plain data.
#include "model/charge.h"

#include "model/json_release.h"

namespace orv {

namespace {

// The polarity member and what follows it up to the visual id's value.
void write_polarity(TextWriter& out, ChargePolarity polarity) {
    switch (polarity) {
        case ChargePolarity::POSITIVE: out.raw(",\"polarity\":\"positive\",\"visual_id\":"); break;
        case ChargePolarity::NEGATIVE: out.raw(",\"polarity\":\"negative\",\"visual_id\":"); break;
        default: out.raw(",\"polarity\":\"neutral\",\"visual_id\":"); break;
    }
}

const std::string& polarity_text(ChargePolarity polarity) {
    static const std::string positive = "positive", negative = "negative", neutral = "neutral";
    switch (polarity) {
        case ChargePolarity::POSITIVE: return positive;
        case ChargePolarity::NEGATIVE: return negative;
        default: return neutral;
    }
}

}  // namespace

nlohmann::json Charge::to_json() const {
    nlohmann::json object(nlohmann::json::value_t::object);
    auto& members = object.get_ref<nlohmann::json::object_t&>();
    try {
        // Keys in byte order, so each member goes in at the end of the map without a search.
        members.emplace_hint(members.end(), "magnitude", nlohmann::json::number_float_t{magnitude});
        members.emplace_hint(members.end(), "polarity", polarity_text(polarity));
        members.emplace_hint(members.end(), "visual_id", visual_id);
    } catch (...) {
        release_flat(object);  // the library's destructor would allocate
        throw;
    }
    return object;
}

void Charge::write_json(TextWriter& out) const {
    out.raw("{\"magnitude\":");
    out.number(magnitude);
    write_polarity(out, polarity);
    out.string(visual_id);
    out.raw('}');
}

}  // namespace orv
