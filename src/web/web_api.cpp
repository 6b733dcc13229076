// The C functions that the web build exports: one session per page, texts in and out.
// Each function converts and calls WebSession; a failure returns null (or 0) and keeps its message.
#include <exception>
#include <string>

#include <emscripten/emscripten.h>

#include "web/web_session.h"

namespace {

orv::web::WebSession& session() {
    static orv::web::WebSession instance;
    return instance;
}

std::string& last_error() {
    static std::string text;
    return text;
}

// Runs `call`, keeping the message of whatever it throws; `failed` is what the caller then gets.
template <typename Call, typename Result>
Result guarded(Call call, Result failed) {
    last_error().clear();
    try {
        return call();
    } catch (const std::exception& err) {
        last_error() = err.what();
    } catch (...) {
        last_error() = "unknown failure in the engine";
    }
    return failed;
}

}  // namespace

extern "C" {

// Loads a level from its JSON text (UTF-8, NUL-terminated); 1 on success, 0 on a refusal.
EMSCRIPTEN_KEEPALIVE int orv_web_load(const char* level_json) {
    return guarded([&] { return session().load(level_json ? level_json : ""), 1; }, 0);
}

// Runs one frame and returns its report text, or null on a failure.
EMSCRIPTEN_KEEPALIVE const char* orv_web_step() {
    return guarded([] { return session().step().c_str(); }, static_cast<const char*>(nullptr));
}

// The current world's JSON text, or null on a failure.
EMSCRIPTEN_KEEPALIVE const char* orv_web_world() {
    return guarded([] { return session().world().c_str(); }, static_cast<const char*>(nullptr));
}

// The current world's numbers, exactly, NaN and infinities included (see WebSession::numbers),
// or null on a failure.
EMSCRIPTEN_KEEPALIVE const char* orv_web_numbers() {
    return guarded([] { return session().numbers().c_str(); }, static_cast<const char*>(nullptr));
}

// Starts the loaded level again from its first frame; 1 on success, 0 on a failure.
EMSCRIPTEN_KEEPALIVE int orv_web_reset() {
    return guarded([] { return session().reset(), 1; }, 0);
}

// The message of the last failure, or "" when the last call succeeded.
EMSCRIPTEN_KEEPALIVE const char* orv_web_error() { return last_error().c_str(); }

}  // extern "C"
