// Text form of the engine's JSON values: compact, keys in byte order, strict UTF-8.
// The depth test runs before the library's recursive writer, on a depth the caller knows or that a
// walk of the document finds; the thread's stack bounds are looked up once per thread.
#include "model/json_text.h"

#include "model/json_release.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/stack.h>
#else
#include <pthread.h>
#include <sys/resource.h>
#endif

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace orv {

namespace {

// Stack that one level of the library's writer takes, with room to spare, and what is left untouched
// below the writer for whatever it calls (allocation, number formatting, throwing and unwinding the
// UTF-8 error). Measured by painting a thread's stack: about 140 bytes a level and 4.7 KiB at most
// besides in an optimised build; about 3 KiB a level and 12 KiB besides with AddressSanitizer.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORV_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(ORV_ADDRESS_SANITIZER)
constexpr std::size_t kStackPerLevel = 6144;
constexpr std::size_t kStackReserve = 48 * 1024;
#else
constexpr std::size_t kStackPerLevel = 512;
constexpr std::size_t kStackReserve = 16 * 1024;
#endif

#ifdef __EMSCRIPTEN__
// WebAssembly keeps its own stack in linear memory, and the runtime knows its bounds.
std::size_t stack_left() { return emscripten_stack_get_free(); }
#else
// The lowest address of the calling thread's stack, or 0 when it cannot be found. The C library
// finds the main thread's stack by reading the process's memory map, which takes far longer than
// writing a small document, so the answer is kept per thread. The main thread's stack can grow as
// far as the stack limit allows, so a change of that limit makes the lookup run again.
std::uintptr_t stack_bottom() {
    struct Known {
        bool found = false;
        rlim_t limit = 0;
        std::uintptr_t bottom = 0;
    };
    thread_local Known known;
    rlimit limit{};
    const rlim_t current = getrlimit(RLIMIT_STACK, &limit) == 0 ? limit.rlim_cur : 0;
    if (known.found && known.limit == current) return known.bottom;

    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
    void* lowest = nullptr;
    std::size_t size = 0;
    const int failed = pthread_attr_getstack(&attributes, &lowest, &size);
    pthread_attr_destroy(&attributes);
    if (failed) return 0;
    known = Known{true, current, reinterpret_cast<std::uintptr_t>(lowest)};
    return known.bottom;
}

std::size_t stack_left() {
    const std::uintptr_t bottom = stack_bottom();
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    return bottom != 0 && here > bottom ? here - bottom : 0;
}
#endif

}  // namespace

std::size_t writable_depth() {
    const std::size_t left = stack_left();
    const std::size_t fits = left > kStackReserve ? (left - kStackReserve) / kStackPerLevel : 0;
    return fits < kMaxTextDepth ? fits : kMaxTextDepth;
}

void check_text_depth(std::size_t depth, std::size_t limit) {
    if (depth > limit) {
        throw std::length_error("cannot write a JSON document nested " + std::to_string(depth) +
                                " levels deep: at most " + std::to_string(limit) +
                                " levels can be written on this thread (a zone takes two, so about " +
                                std::to_string(limit / 2) + " nested zones)");
    }
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

std::string to_text(const nlohmann::json& value) { return to_text(value, nesting_depth(value)); }

std::string to_text(const nlohmann::json& value, std::size_t depth, std::size_t expected_size) {
    check_text_depth(depth, writable_depth());
    // What value.dump() does with its default arguments, but into a string that already has room,
    // so a large text is not copied over and over as it grows.
    std::string text;
    text.reserve(expected_size);
    nlohmann::detail::serializer<nlohmann::json> writer(nlohmann::detail::output_adapter<char, std::string>(text),
                                                        ' ', nlohmann::json::error_handler_t::strict);
    writer.dump(value, false, false, 0);
    return text;
}

void release(nlohmann::json& value) {
    ReleasePath path(nesting_depth(value));
    release(value, path);
}

std::string quote_name(const std::string& text) {
    // Up to kQuotedNameLength characters (UTF-8 lead bytes counted; a stray byte counts as one).
    std::size_t end = 0, characters = 0;
    for (; end < text.size(); ++end) {
        const bool starts_character = (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80;
        if (starts_character && characters++ == kQuotedNameLength) break;
    }
    if (end == text.size()) {
        return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return nlohmann::json(text.substr(0, end)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
           "\u2026 (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace orv
