// Releasing JSON documents without allocating, so that they can be dropped when memory has run out.
// The walk keeps, for each level above the container being emptied, where its scan of members stands.
#include "model/json_release.h"

namespace orv {

namespace {

void empty_container(nlohmann::json& value) noexcept {
    if (value.is_object()) {
        value.get_ref<nlohmann::json::object_t&>().clear();
    } else if (value.is_array()) {
        value.get_ref<nlohmann::json::array_t&>().clear();
    }
}

}  // namespace

void release(nlohmann::json& value, ReleasePath& path) noexcept {
    auto& levels = path.levels_;
    levels.clear();
    if (value.is_structured() && levels.capacity() != 0) {
        levels.emplace_back(&value, value.begin());
        while (!levels.empty()) {
            nlohmann::json* container = levels.back().first;
            nlohmann::json* deeper = nullptr;
            for (auto& next = levels.back().second; next != container->end();) {
                nlohmann::json& member = *next;
                ++next;
                if (member.is_structured() && !member.empty()) {
                    deeper = &member;
                    break;
                }
            }
            // Past the room reserved, the member is left to the library (see the header).
            if (deeper != nullptr && levels.size() < levels.capacity()) {
                levels.emplace_back(deeper, deeper->begin());
                continue;
            }
            if (deeper != nullptr) continue;
            // Every member is a scalar or an empty container now: freeing them allocates nothing.
            empty_container(*container);
            levels.pop_back();
        }
    }
    empty_container(value);
    value = nullptr;
}

void release_flat(nlohmann::json& value) noexcept { empty_container(value); }

}  // namespace orv
