// MagicianAgent: the abstract base of every agent kind, and its frame-loop state.
// The base JSON form shared by every kind lives here.
#include "model/agent.h"

#include "model/json_release.h"

namespace orv {

namespace {

const std::string& state_text(AgentState state) {
    static const std::string active = "active", frozen = "frozen", dormant = "dormant";
    switch (state) {
        case AgentState::ACTIVE: return active;
        case AgentState::FROZEN: return frozen;
        default: return dormant;
    }
}

}  // namespace

nlohmann::json MagicianAgent::to_json() const {
    nlohmann::json object(nlohmann::json::value_t::object);
    auto& members = object.get_ref<nlohmann::json::object_t&>();
    try {
        // Keys in byte order, so each member goes in at the end of the map without a search.
        members.emplace_hint(members.end(), "name", name);
        members.emplace_hint(members.end(), "priority", nlohmann::json::number_integer_t{priority});
        members.emplace_hint(members.end(), "state", state_text(state));
        members.emplace_hint(members.end(), "visual_id", visual_id);
    } catch (...) {
        release_flat(object);  // the library's destructor would allocate
        throw;
    }
    return object;
}

void MagicianAgent::write_json(TextWriter& out) const { write_json_members(out, nullptr, nullptr, nullptr); }

void MagicianAgent::write_json_members(TextWriter& out, const bool* is_open, const char* rule,
                                       const double* target_value) const {
    if (is_open != nullptr) {
        out.raw("{\"is_open\":");
        out.boolean(*is_open);
        out.raw(",\"name\":");
    } else {
        out.raw("{\"name\":");
    }
    out.string(name);
    out.raw(",\"priority\":");
    out.integer(priority);
    if (rule != nullptr) {
        out.raw(",\"rule\":");
        out.string(rule);
    }
    out.raw(",\"state\":");
    out.string(state_text(state));
    if (target_value != nullptr) {
        out.raw(",\"target_value\":");
        out.number(*target_value);
    }
    out.raw(",\"visual_id\":");
    out.string(visual_id);
    out.raw('}');
}

}  // namespace orv
