// The orv_session extension module: the toolkit's one way into the engine's sessions, kinds, level
// files and verdicts. Data only: text and plain Python values in and out; every rule lives in C++.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bindings/initialised.h"
#include "toolkit/changes.h"
#include "toolkit/kinds.h"
#include "toolkit/level_file.h"
#include "toolkit/pieces.h"
#include "toolkit/session.h"
#include "toolkit/solver.h"
#include "toolkit/verdict.h"

namespace py = pybind11;

namespace pybind11::detail {
template <>
class type_caster<orv::Session>
    : public orv::bindings::InitialisedCaster<orv::Session, type_caster_base<orv::Session>> {};
}  // namespace pybind11::detail

namespace {

// Text given as str (encoded as UTF-8) or as bytes (checked by the level reader).
std::string text_of(const py::handle& value, const char* argument) {
    if (py::isinstance<py::bytes>(value)) return value.cast<std::string>();
    if (py::isinstance<py::str>(value)) {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
        if (data == nullptr) {
            PyErr_Clear();
            throw py::value_error(std::string(argument) + ": expected text in Unicode characters, found a lone surrogate");
        }
        return std::string(data, static_cast<std::size_t>(size));
    }
    throw py::type_error(std::string(argument) + ": expected str or bytes, found " + Py_TYPE(value.ptr())->tp_name);
}

py::object optional_path(const orv::ZonePath& path) { return py::cast(path); }

py::dict record_dict(const orv::FrameRecord& record) {
    py::dict out;
    const char* action = orv::action_word(record.action);
    out["action"] = action ? py::object(py::str(action)) : py::object(py::none());
    out["zone"] = optional_path(record.zone);
    out["index"] = record.index;
    return out;
}

py::dict verdict_dict(const orv::Verdict& verdict) {
    py::dict out;
    out["verdict"] = verdict.kind;
    out["word"] = orv::verdict_word(verdict.kind);
    out["frames"] = verdict.frames;
    out["reasons"] = py::cast(verdict.reasons);
    return out;
}

py::list kinds_list() {
    py::list out;
    for (const orv::AgentKind& kind : orv::agent_kinds()) {
        py::dict entry;
        entry["kind"] = kind.kind;
        entry["class_name"] = kind.class_name;
        entry["name"] = kind.name;
        entry["priority"] = kind.priority;
        entry["gate"] = kind.gate;
        entry["takes_rule"] = kind.takes_rule;
        entry["method"] = kind.method;
        out.append(std::move(entry));
    }
    return out;
}

// A list of texts (str or bytes), each checked as text_of checks it.
std::vector<std::string> texts_of(const py::handle& value, const char* argument) {
    if (!py::isinstance<py::list>(value) && !py::isinstance<py::tuple>(value)) {
        throw py::type_error(std::string(argument) + ": expected a list of zone paths, found " + Py_TYPE(value.ptr())->tp_name);
    }
    std::vector<std::string> out;
    std::size_t index = 0;
    for (const py::handle item : value) {
        const std::string where = std::string(argument) + "[" + std::to_string(index++) + "]";
        out.push_back(text_of(item, where.c_str()));
    }
    return out;
}

py::dict solution_dict(const orv::Solution& solution, const orv::Level& level) {
    py::list zones, lines;
    for (std::size_t i = 0; i < solution.zones.size(); ++i) {
        const std::string path = orv::zone_path(*level.world, solution.zones[i]);
        zones.append(path);
        lines.append(orv::placement_line(*level.tray.pieces[i], path));
    }
    py::dict out;
    out["frames"] = solution.frames;
    out["zones"] = zones;
    out["lines"] = lines;
    return out;
}

// The solver over the level `text`, its workers running without the interpreter's lock while this
// thread waits: about ten times a second it runs the interpreter's signal handlers (Ctrl-C) and
// `progress`, and whatever they raise cancels the search and is raised once every worker stops.
py::dict solve(const py::handle& text_arg, bool first, unsigned jobs, std::size_t keep, const py::object& progress) {
    const std::string text = text_of(text_arg, "text");
    const orv::Level level = orv::read_level(text);
    orv::Solver solver(*level.world, level.tray);
    const std::uint64_t total = solver.placements();
    orv::SolverOptions options;
    options.jobs = jobs;
    options.first = first;
    options.keep = keep;
    orv::SolverResult result;
    bool raised = false;
    {
        py::gil_scoped_release released;
        result = solver.solve(options, [&] {
            py::gil_scoped_acquire held;
            if (PyErr_CheckSignals() != 0) {
                raised = true;
                return false;
            }
            if (progress.is_none()) return true;
            try {
                progress(solver.tried(), total);
            } catch (py::error_already_set& error) {
                error.restore();
                raised = true;
                return false;
            }
            return true;
        });
    }
    if (raised) throw py::error_already_set();
    py::dict out;
    out["placements"] = total;
    out["tried"] = result.tried;
    out["solutions"] = result.solutions;
    out["exhaustive"] = result.exhaustive;
    out["shortest"] = result.shortest ? py::object(solution_dict(*result.shortest, level)) : py::object(py::none());
    py::list listed;
    for (const orv::Solution& solution : result.listed) listed.append(solution_dict(solution, level));
    out["listed"] = listed;
    return out;
}

}  // namespace

PYBIND11_MODULE(orv_session, m) {
    m.doc() = "The orv toolkit's sessions: levels read and written, runs stepped, told and judged";
    orv::bindings::prepare_thread();

    // A level that cannot be read: args are (path or None, expected, found or None).
    static py::exception<orv::LevelError> level_fault(m, "LevelFault", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const orv::LevelError& err) {
            py::object path = err.path ? py::object(py::str(*err.path)) : py::object(py::none());
            py::object found = err.found ? py::object(py::str(*err.found)) : py::object(py::none());
            py::tuple args = py::make_tuple(path, err.expected, found);
            PyErr_SetObject(level_fault.ptr(), args.ptr());
        }
    });
    // A search larger than the solver takes on.
    static py::exception<orv::SearchTooLarge> too_large(m, "SearchTooLarge", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const orv::SearchTooLarge& err) {
            PyErr_SetString(too_large.ptr(), err.what());
        }
    });

    m.def("kinds", &kinds_list,
          "The thirteen agent kinds, in a fixed order: dicts of kind (the word of level files), class_name, name "
          "(the display name), priority, gate, takes_rule and method (the orv_engine method that adds one).");
    m.def("judge_rules", [] { return orv::judge_rules(); }, "The rule texts a Judge is read with: <, >, <=, >=.");
    m.def("number_text", &orv::number_text, py::arg("value"),
          "A magnitude or total as people write it: 3, 2.5, inf, -inf, nan.");

    m.def(
        "apply_changes", [](const py::handle& document, const py::handle& patch) {
            return orv::apply_changes(text_of(document, "document"), text_of(patch, "patch"));
        },
        py::arg("document"), py::arg("patch"),
        "The JSON text `document` with the JSON Patch `patch` applied (how a change stream gives back its "
        "reports). Raises ValueError naming the operation that does not apply.");

    py::class_<orv::Session> session(m, "Session",
                                     "One level's run: load a level, step it, tell and judge each frame, save it.");
    session.def(py::init<>());
    session.def(
        "load", [](orv::Session& self, const py::handle& text) { self.load(text_of(text, "text")); }, py::arg("text"),
        "Reads a level (a level document, a bare zone or one frame report; str or UTF-8 bytes) and starts a fresh "
        "run of it. Raises LevelFault(path, expected, found) and leaves the session as it was when the text is "
        "not a valid level.");
    session.def(
        "load_saved", [](orv::Session& self, const py::handle& text) { self.load_saved(text_of(text, "report")); },
        py::arg("report"),
        "Reads the first report of a saved run and goes on from it, with the same frame numbers; follow_saved "
        "then takes the run's next reports. Raises LevelFault as load does.");
    session.def_property_readonly("title", &orv::Session::title, "The level's title, or None when it has none.");
    session.def_property_readonly("description", &orv::Session::description, "The level's description.");
    session.def("step", &orv::Session::step, "Runs one frame and returns its report text.");
    session.def("advance", &orv::Session::advance, "Runs one frame as step does, without writing its report.");
    session.def("changes", &orv::Session::changes,
                "The last frame's changes, as step_changes returns them, whichever way the frame was run.");
    session.def("step_changes", &orv::Session::step_changes,
                "Runs one frame as step does and returns its changes: a JSON Patch (RFC 6902) text that turns the "
                "previous report (the world before frame 1 at first) into this frame's report.");
    session.def("record", [](const orv::Session& self) { return record_dict(self.record()); },
                "What the last frame did and where: {action: 'cast', 'fold', 'finish' or None, zone: the path of "
                "sub-zone indices, index: the agent's or folded zone's index before it left}. The flags that flipped\n"
                "are in the frame's changes and its report.");
    session.def("told", [](const orv::Session& self) { return py::make_tuple(self.told().words, self.told().where); },
                "The last frame in words: (what it did, the charges of the zone it touched).");
    session.def(
        "follow_saved", [](orv::Session& self, const py::handle& text) {
            return self.follow_saved(text_of(text, "report"));
        },
        py::arg("report"),
        "Follows the next report of a saved run; False when it does not follow from the one before.");
    session.def("verdict", [](const orv::Session& self) { return verdict_dict(self.verdict()); },
                "How the run stands: {verdict: solved, unsolved, limit or paused, word: as a status shows it\n"
                "(SOLVED, UNSOLVED, FRAME LIMIT, PAUSED), frames, reasons}.");
    session.def("summary_lines", [](const orv::Session& self) {
        return orv::summary_lines(self.verdict(), self.root_name());
    }, "The closing lines of a narrated run.");
    session.def("world_lines", [](const orv::Session& self) { return orv::world_lines(self.root()); },
                "The world as an indented list of zones: charges, then the agents that wait there.");
    session.def("root_name", &orv::Session::root_name, "The root zone's name, as the verdict names zones.");
    session.def_property_readonly("frame", &orv::Session::frame, "The number of the last frame run.");
    session.def_property_readonly("status", &orv::Session::status, "The last report's status ('' before frame 1).");
    session.def_property_readonly("ended", &orv::Session::ended, "Whether the run has ended (FINISHED or ERROR).");
    session.def("reset", &orv::Session::reset, "Starts the loaded level again.");
    session.def("world", &orv::Session::world, "The current world's JSON, as Environment.to_json writes it.");
    session.def("level_text", &orv::Session::level_text, py::arg("title"), py::arg("description"),
                "The current world as a level file, numbers exact (inf, -inf and nan as strings).");
    session.def("numbers", &orv::Session::numbers,
                "The current world's magnitudes and gate targets, exactly, as JSON text.");
    session.def(
        "pieces", [](const orv::Session& self) {
            std::vector<std::string> labels;
            for (const auto& piece : self.tray().pieces) labels.push_back(orv::piece_label(*piece));
            return labels;
        },
        "A puzzle's pieces in the level's order, as 'Plus Magician (smith)'; none for a finished world.");
    session.def("accepting", &orv::Session::accepting,
                "The paths of the zones that accept pieces, in preorder (every zone unless the level names them).");
    session.def(
        "place", [](orv::Session& self, const py::handle& zones) { self.place(texts_of(zones, "zones")); },
        py::arg("zones"),
        "Starts a fresh run with the pieces placed: `zones` holds the path of each piece's zone, in the level's "
        "order ('anvil/bellows'). Raises ValueError, and changes nothing, for a level without pieces, another "
        "number of zones, a path that names no zone and a zone that does not accept pieces.");
    session.def_property_readonly("placement", &orv::Session::placement,
                                  "The path of each piece's zone in this run, or None while the pieces wait in the tray.");
    session.def("placement_lines", &orv::Session::placement_lines,
                "The placement in words, a line for each piece: 'put the Plus Magician (smith) into anvil/bellows'.");

    m.def("solve", &solve, py::arg("text"), py::kw_only(), py::arg("first") = false, py::arg("jobs") = 0u,
          py::arg("keep") = 0u, py::arg("progress") = py::none(),
          "Tries every placement of the level's pieces (each into one zone that accepts pieces), runs each to its "
          "end and judges it, on `jobs` workers (0: one per core). Returns {placements: all of them, tried, "
          "solutions (placements that build the same world counted once), exhaustive, shortest: {frames, zones, "
          "lines} or None, listed: the first `keep` solutions in the search's order}. `first` stops at the first "
          "solution in that order. `progress(tried, placements)` is called about ten times a second; Ctrl-C or "
          "whatever `progress` raises cancels the search and is raised. Raises LevelFault for a level that cannot "
          "be read and SearchTooLarge (a ValueError) for a search of more than 1,000,000,000 placements.");
}
