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

}  // namespace orv
