// MagicianAgent: the abstract base of every agent kind, and its frame-loop state.
// The base JSON form shared by every kind lives here.
#include "model/agent.h"

namespace orv {

namespace {

const char* state_text(AgentState state) {
    switch (state) {
        case AgentState::ACTIVE: return "active";
        case AgentState::FROZEN: return "frozen";
        default: return "dormant";
    }
}

}  // namespace

nlohmann::json MagicianAgent::to_json() const {
    nlohmann::json object = nlohmann::json::object();
    object["name"] = name;
    object["priority"] = nlohmann::json::number_integer_t{priority};
    object["state"] = state_text(state);
    object["visual_id"] = visual_id;
    return object;
}

}  // namespace orv
