// Text form of the engine's JSON values: compact, keys in byte order, strict UTF-8.
// The depth test walks the document with its own stack before the library's recursive writer runs.
#include "model/json_text.h"

#include <pthread.h>

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace orv {

namespace {

// Stack that one level of the library's writer takes, with room to spare; instrumented builds
// use far larger frames.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kStackPerLevel = 2048;
#else
constexpr std::size_t kStackPerLevel = 512;
#endif
// Left untouched below the writer for whatever it calls (allocation, formatting).
constexpr std::size_t kStackReserve = 128 * 1024;

std::size_t stack_left() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
    void* lowest = nullptr;
    std::size_t size = 0;
    const int failed = pthread_attr_getstack(&attributes, &lowest, &size);
    pthread_attr_destroy(&attributes);
    if (failed) return 0;
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const auto bottom = reinterpret_cast<std::uintptr_t>(lowest);
    return here > bottom ? here - bottom : 0;
}

}  // namespace

std::size_t writable_depth() {
    const std::size_t left = stack_left();
    const std::size_t fits = left > kStackReserve ? (left - kStackReserve) / kStackPerLevel : 0;
    return fits < kMaxTextDepth ? fits : kMaxTextDepth;
}

std::size_t nesting_depth(const nlohmann::json& value) {
    if (!value.is_structured()) return 0;
    std::size_t deepest = 0;
    std::vector<std::pair<const nlohmann::json*, std::size_t>> pending{{&value, 1}};
    while (!pending.empty()) {
        auto [current, depth] = pending.back();
        pending.pop_back();
        if (depth > deepest) deepest = depth;
        for (const auto& child : *current) {
            if (child.is_structured()) pending.emplace_back(&child, depth + 1);
        }
    }
    return deepest;
}

std::string to_text(const nlohmann::json& value) {
    const std::size_t depth = nesting_depth(value);
    if (depth > kMaxTextDepth || depth > writable_depth()) {
        const std::size_t limit = writable_depth();
        throw std::length_error("cannot write a JSON document nested " + std::to_string(depth) +
                                " levels deep: at most " + std::to_string(limit) +
                                " levels can be written on this thread (a zone takes two, so about " +
                                std::to_string(limit / 2) + " nested zones)");
    }
    return value.dump();
}

std::string quote_name(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace orv
