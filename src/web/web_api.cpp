// The C functions that the web build exports: one session per page, texts in and out.
// Each function converts and calls the session; a failure returns null (or 0) and keeps its message.
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <emscripten/emscripten.h>
#include <nlohmann/json.hpp>

#include "toolkit/kinds.h"
#include "toolkit/level_file.h"
#include "toolkit/pieces.h"
#include "toolkit/session.h"
#include "toolkit/solver.h"
#include "toolkit/verdict.h"

namespace {

orv::Session& session() {
    static orv::Session instance;
    return instance;
}

std::string& last_error() {
    static std::string text;
    return text;
}

// The text that a call hands out, valid until the next call.
std::string& out() {
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

// Keeps `text` for the caller and returns it.
const char* hand_out(std::string text) {
    out() = std::move(text);
    return out().c_str();
}

template <typename Call>
const char* text_call(Call call) {
    return guarded([&] { return hand_out(call()); }, static_cast<const char*>(nullptr));
}

}  // namespace

extern "C" {

// Loads a level from the `size` bytes of its text (a NUL among them is the reader's to refuse); 1 on
// success, 0 on a refusal.
EMSCRIPTEN_KEEPALIVE int orv_web_load(const char* level_text, int size) {
    return guarded([&] {
        return session().load(level_text && size > 0 ? std::string_view(level_text, size) : std::string_view()), 1;
    }, 0);
}

// Runs one frame and returns its report text, or null on a failure.
EMSCRIPTEN_KEEPALIVE const char* orv_web_step() {
    return guarded([] { return session().step().c_str(); }, static_cast<const char*>(nullptr));
}

// Runs one frame and returns its changes (a JSON Patch text), or null on a failure.
EMSCRIPTEN_KEEPALIVE const char* orv_web_step_changes() {
    return guarded([] { return session().step_changes().c_str(); }, static_cast<const char*>(nullptr));
}

// The last frame's record: {"action": "cast", "fold", "finish" or null, "zone": path, "index"}.
// (The flags that flipped are in the frame's changes and its report.)
EMSCRIPTEN_KEEPALIVE const char* orv_web_record() {
    return text_call([] {
        const orv::FrameRecord& record = session().record();
        const char* action = orv::action_word(record.action);
        nlohmann::json document = {{"action", action ? nlohmann::json(action) : nlohmann::json()},
                                   {"zone", record.zone},
                                   {"index", record.index}};
        return document.dump();
    });
}

// The last frame in words: {"words", "where"}.
EMSCRIPTEN_KEEPALIVE const char* orv_web_told() {
    return text_call([] {
        const orv::Told& told = session().told();
        return nlohmann::json{{"words", told.words}, {"where", told.where}}.dump(-1, ' ', false,
                                                                              nlohmann::json::error_handler_t::replace);
    });
}

// How the run stands: {"verdict", "word", "frames", "reasons"}.
EMSCRIPTEN_KEEPALIVE const char* orv_web_verdict() {
    return text_call([] {
        const orv::Verdict verdict = session().verdict();
        const nlohmann::json document = {{"verdict", verdict.kind}, {"word", orv::verdict_word(verdict.kind)},
                                         {"frames", verdict.frames}, {"reasons", verdict.reasons}};
        return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    });
}

// The verdict in the lines that close a narrated run: its heading ("Solved in 3 frames: ...",
// "Unsolved after 5 frames:") and then the first reasons, as the terminal player prints them.
EMSCRIPTEN_KEEPALIVE const char* orv_web_summary() {
    return text_call([] {
        const orv::Session& run = session();
        return nlohmann::json(orv::summary_lines(run.verdict(), run.root_name()))
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    });
}

// The current world's JSON text, or null on a failure.
EMSCRIPTEN_KEEPALIVE const char* orv_web_world() {
    return text_call([] { return session().world(); });
}

// The current world as a level file with this title and description, numbers exact.
EMSCRIPTEN_KEEPALIVE const char* orv_web_level_text(const char* title, const char* description) {
    return text_call([&] { return session().level_text(title ? title : "", description ? description : ""); });
}

// The current world's numbers, exactly, NaN and infinities included (see Session::numbers).
EMSCRIPTEN_KEEPALIVE const char* orv_web_numbers() {
    return text_call([] { return session().numbers(); });
}

// The thirteen agent kinds: [{"kind", "className", "name", "priority", "gate", "takesRule", "method"}].
EMSCRIPTEN_KEEPALIVE const char* orv_web_kinds() {
    return text_call([] {
        nlohmann::json kinds = nlohmann::json::array();
        for (const orv::AgentKind& kind : orv::agent_kinds()) {
            kinds.push_back({{"kind", kind.kind}, {"className", kind.class_name}, {"name", kind.name},
                             {"priority", kind.priority}, {"gate", kind.gate}, {"takesRule", kind.takes_rule},
                             {"method", kind.method}});
        }
        return kinds.dump();
    });
}

// The rule texts that a Judge is read with: ["<", ">", "<=", ">="].
EMSCRIPTEN_KEEPALIVE const char* orv_web_judge_rules() {
    return text_call([] { return nlohmann::json(orv::judge_rules()).dump(); });
}

// The puzzle's tray: [{"label": "Plus Magician (smith)", "name", "visualId"}], the pieces in the
// level's order; [] for a level without pieces.
EMSCRIPTEN_KEEPALIVE const char* orv_web_pieces() {
    return text_call([] {
        nlohmann::json pieces = nlohmann::json::array();
        for (const auto& piece : session().tray().pieces) {
            pieces.push_back({{"label", orv::piece_label(*piece)}, {"name", piece->name}, {"visualId", piece->visual_id}});
        }
        return pieces.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    });
}

// The zones that accept pieces: [{"path": "anvil/bellows", "zone": its number in preorder}].
EMSCRIPTEN_KEEPALIVE const char* orv_web_accepting() {
    return text_call([] {
        const orv::Session& run = session();
        nlohmann::json zones = nlohmann::json::array();
        const std::vector<std::size_t> accepting = orv::accepting_zones(run.root(), run.tray());
        const std::vector<std::string> paths = orv::zone_paths(run.root(), accepting);  // in one walk
        for (std::size_t i = 0; i < accepting.size(); ++i) zones.push_back({{"path", paths[i]}, {"zone", accepting[i]}});
        return zones.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    });
}

// Starts a fresh run with the pieces placed; `zones` is a JSON array of the path of each piece's
// zone. 1 on success, 0 on a refusal (the session as it was).
EMSCRIPTEN_KEEPALIVE int orv_web_place(const char* zones) {
    return guarded([&] {
        const nlohmann::json paths = nlohmann::json::parse(zones ? zones : "");
        if (!paths.is_array()) throw std::invalid_argument("a placement is a list of zone paths, not " + paths.dump());
        std::vector<std::string> list;
        for (const auto& path : paths) {
            if (!path.is_string()) throw std::invalid_argument("a zone path is text, not " + path.dump());
            list.push_back(path.get<std::string>());
        }
        return session().place(list), 1;
    }, 0);
}

// The placement of this run: {"zones": [paths] or null, "lines": ["put the ... into ..."]}.
EMSCRIPTEN_KEEPALIVE const char* orv_web_placement() {
    return text_call([] {
        const orv::Session& run = session();
        const auto& zones = run.placement();
        return nlohmann::json{{"zones", zones ? nlohmann::json(*zones) : nlohmann::json()},
                              {"lines", run.placement_lines()}}
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    });
}

// Solves the level of `size` bytes of text (not the session's: a worker solves with an engine of
// its own) on the calling thread: {"placements", "tried", "solutions", "exhaustive", "shortest":
// {"frames", "zones": [paths], "lines"} or null}.
EMSCRIPTEN_KEEPALIVE const char* orv_web_solve(const char* level_text, int size) {
    return text_call([&] {
        const orv::Level level = orv::read_level(level_text && size > 0 ? std::string_view(level_text, size)
                                                                        : std::string_view());
        orv::Solver solver(*level.world, level.tray);
        orv::SolverOptions options;
        options.jobs = 1;
        const orv::SolverResult result = solver.solve(options);
        nlohmann::json shortest;
        if (result.shortest) {
            nlohmann::json zones = nlohmann::json::array(), lines = nlohmann::json::array();
            for (std::size_t i = 0; i < result.shortest->zones.size(); ++i) {
                const std::string path = orv::zone_path(*level.world, result.shortest->zones[i]);
                zones.push_back(path);
                lines.push_back(orv::placement_line(*level.tray.pieces[i], path));
            }
            shortest = {{"frames", result.shortest->frames}, {"zones", zones}, {"lines", lines}};
        }
        return nlohmann::json{{"placements", solver.placements()}, {"tried", result.tried},
                              {"solutions", result.solutions}, {"exhaustive", result.exhaustive},
                              {"shortest", shortest}}
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    });
}

// Starts the loaded level again from its first frame; 1 on success, 0 on a failure.
EMSCRIPTEN_KEEPALIVE int orv_web_reset() {
    return guarded([] { return session().reset(), 1; }, 0);
}

// The message of the last failure, or "" when the last call succeeded.
EMSCRIPTEN_KEEPALIVE const char* orv_web_error() { return last_error().c_str(); }

}  // extern "C"
