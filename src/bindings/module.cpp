// The orv_engine extension module: registers the engine's types for CPython 3.12.
// Every body here converts arguments and results and calls the engine; the rules live in the engine.
#include <exception>
#include <initializer_list>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "agents/arithmetic.h"
#include "agents/chronomancer.h"
#include "agents/gates.h"
#include "agents/powers.h"
#include "agents/unary.h"
#include "bindings/charge_handle.h"
#include "bindings/initialised.h"
#include "bindings/text.h"
#include "model/environment.h"
#include "model/text_writer.h"
#include "sequencer/sequencer.h"

namespace py = pybind11;
using orv::bindings::ChargeHandle;
using orv::bindings::checked_text;

namespace {

using Zone = std::shared_ptr<orv::Environment>;

// Registers add_<name>(visual_id) for an agent kind built from its visual id alone; `does` tells
// what the kind does, for the method's docstring.
template <typename Agent>
void bind_agent(py::class_<orv::Environment, Zone>& cls, const char* name, const char* does) {
    const Agent probe("");
    const std::string doc = "Adds an agent, " + probe.name + " (priority " + std::to_string(probe.priority) +
                            "), at the end of the zone's agents; visual_id names it in reports.\n\n" + does +
                            "\nThe rules reference (docs/rules.md) tells the whole rule.\n\n"
                            "Returns None. A visual_id that is not a str is refused with TypeError.";
    const std::string what = std::string(name) + "(): argument 'visual_id'";
    cls.def(
        name, [what](orv::Environment& zone, std::string visual_id) {
            zone.add_magician(std::make_shared<Agent>(checked_text(std::move(visual_id), what.c_str())));
        },
        py::arg("visual_id"), py::doc(doc.c_str()));
}

// A read-write property whose refused writes name it and its argument:
// "current_frame(): incompatible function arguments ... (self: ..., value: int) ... Invoked with: ...".
template <typename Class, typename Get, typename Set>
void def_named_property(Class& cls, const char* name, Get get, Set set, const char* doc) {
    cls.def_property(name, get, py::cpp_function(set, py::is_method(cls), py::is_setter(), py::name(name), py::arg("value")),
                     doc);
}

// The same for a plain data member, read and written by value.
template <typename Class, typename Type, typename Field>
void def_named_field(Class& cls, const char* name, Field Type::*field, const char* doc) {
    def_named_property(
        cls, name, [field](const Type& self) { return self.*field; },
        [field](Type& self, Field value) { self.*field = std::move(value); }, doc);
}

// Objects made by __new__ alone are refused by every call (see bindings/initialised.h), and so is a
// second call of an initialiser on a live object.
template <typename T, typename Class>
void guard_initialisation(Class& cls, std::initializer_list<const char*> initialisers) {
    for (const char* name : initialisers) orv::bindings::refuse_second_initialisation<T>(cls, name);
    orv::bindings::guard_conduit<T>(cls);
}

// The writer's text as a str: one copy into a compact ASCII str when the text is all ASCII (no UTF-8
// pass), else the ordinary decode.
py::str text_to_str(const orv::TextWriter& text) {
    const auto size = static_cast<Py_ssize_t>(text.size());
    PyObject* str = nullptr;
    if (text.ascii()) {
        str = PyUnicode_New(size, 127);
        if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
    } else {
        str = PyUnicode_DecodeUTF8(text.data(), size, nullptr);
    }
    if (str == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(str);
}

// Runs the interpreter's pending signal handlers; what they raise (KeyboardInterrupt) ends the call.
void check_signals() {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// What `write` writes, polled with check_signals about every MiB, as a str. The writer's buffer is
// released before the last poll, so that a signal that came at any time during the call (the last
// stretch, the copy, the release of a large buffer) is seen before the call returns.
template <typename Write>
py::str polled_text(Write&& write) {
    py::str str;
    {
        orv::TextWriter text(0, check_signals);
        write(text);
        str = text_to_str(text);
    }
    check_signals();
    return str;
}

void refuse_none(const Zone& zone, const char* call, const char* argument) {
    if (!zone) {
        throw py::type_error(std::string(call) + ": argument '" + argument + "' must be an Environment, not None");
    }
}

}  // namespace

PYBIND11_MODULE(orv_engine, m) {
    m.doc() = "Quellmoor Engine Python Bindings";
    orv::bindings::prepare_thread();  // the importing thread (see bindings/initialised.h)

    py::enum_<orv::ChargePolarity> polarity(m, "ChargePolarity", "A charge's sign: POSITIVE, NEGATIVE or NEUTRAL.");
    polarity.value("POSITIVE", orv::ChargePolarity::POSITIVE)
        .value("NEGATIVE", orv::ChargePolarity::NEGATIVE)
        .value("NEUTRAL", orv::ChargePolarity::NEUTRAL)
        .export_values();

    py::class_<ChargeHandle> charge(m, "Charge",
                                    "A numeric charge: a magnitude, a polarity and a visual id. An item read from\n"
                                    "Environment.charges is a view of the zone's charge: it writes through to the zone\n"
                                    "until the zone's charge list changes, then raises RuntimeError (the view is stale).");
    charge.def(py::init([](double magnitude, orv::ChargePolarity polarity, std::string visual_id) {
                   std::string id = checked_text(std::move(visual_id), "Charge(): argument 'visual_id'");
                   return ChargeHandle(orv::Charge(magnitude, polarity, std::move(id)));
               }),
               py::arg("magnitude"), py::arg("polarity"), py::arg("visual_id"),
               "A charge of its own, to put in a zone by assigning Environment.charges.\n\n"
               "magnitude: a float (NaN and the infinities are kept); polarity: a ChargePolarity; visual_id: a str,\n"
               "the id front ends show. Arguments of other types are refused with TypeError.");
    def_named_property(
        charge, "magnitude", [](ChargeHandle& self) { return self.get().magnitude; },
        [](ChargeHandle& self, double value) { self.get().magnitude = value; },
        "The magnitude (float), never negative in a world the engine made; setting it takes any float.\n"
        "A view whose zone's charges have changed raises RuntimeError (the charge view is stale).");
    def_named_property(
        charge, "polarity", [](ChargeHandle& self) { return self.get().polarity; },
        [](ChargeHandle& self, orv::ChargePolarity value) { self.get().polarity = value; },
        "The polarity (a ChargePolarity).\n"
        "A view whose zone's charges have changed raises RuntimeError (the charge view is stale).");
    def_named_property(
        charge, "visual_id", [](ChargeHandle& self) { return self.get().visual_id; },
        [](ChargeHandle& self, std::string value) {
            std::string text = checked_text(std::move(value), "Charge.visual_id: the value");
            self.get().visual_id = std::move(text);
        },
        "The visual id (str) that front ends show; text that is not valid UTF-8 is refused with ValueError.\n"
        "A view whose zone's charges have changed raises RuntimeError (the charge view is stale).");
    charge.def(
        "to_json",
        [](ChargeHandle& self) {
            orv::TextWriter text;
            self.get().write_json(text);
            return text_to_str(text);
        },
        "Returns the charge's JSON text, {\"magnitude\", \"polarity\", \"visual_id\"}; a magnitude that is NaN\n"
        "or infinite is written as null.\n"
        "A view whose zone's charges have changed raises RuntimeError (the charge view is stale).");
    charge.def("__repr__", [](ChargeHandle& self) -> std::string {  // Charge(3.0, POSITIVE, 'a')
        try {
            const orv::Charge& value = self.get();
            const char* polarity = value.polarity == orv::ChargePolarity::POSITIVE   ? "POSITIVE"
                                   : value.polarity == orv::ChargePolarity::NEGATIVE ? "NEGATIVE"
                                   : value.polarity == orv::ChargePolarity::NEUTRAL  ? "NEUTRAL"
                                                                                     : "?";
            return "Charge(" + py::repr(py::float_(value.magnitude)).cast<std::string>() + ", " + polarity + ", " +
                   py::repr(py::str(value.visual_id)).cast<std::string>() + ")";
        } catch (const std::runtime_error&) {
            return "<Charge: stale view, its zone's charges have changed since it was read>";
        }
    });

    py::class_<orv::Environment, Zone> environment(
        m, "Environment",
        "A zone of the world: charges, the agents that belong to it, and sub-zones. Agents are added by\n"
        "the add_* methods, one a kind; a sequencer runs the world whose root is a zone.");
    environment.def(py::init([](std::string id) {
                        return std::make_shared<orv::Environment>(
                            checked_text(std::move(id), "Environment(): argument 'id'"));
                    }),
                    py::arg("id"),
                    "An empty zone named id (a str; ids need not be unique). Other types are refused with TypeError,\n"
                    "text that is not valid UTF-8 with ValueError.");
    def_named_property(
        environment, "id", [](const orv::Environment& self) { return self.id; },
        [](orv::Environment& self, std::string value) {
            self.id = checked_text(std::move(value), "Environment.id: the value");
        },
        "The zone's id (str), which reports and messages name it by.");
    def_named_property(
        environment, "charges",
        [](const Zone& self) {
            std::vector<ChargeHandle> items;
            items.reserve(self->charges.size());
            for (std::size_t i = 0; i < self->charges.size(); ++i) items.emplace_back(self, i);
            return items;
        },
        [](orv::Environment& self, std::vector<ChargeHandle> items) {
            std::vector<orv::Charge> charges;
            charges.reserve(items.size());
            for (ChargeHandle& item : items) charges.push_back(item.get());
            self.charges = std::move(charges);
            self.touch_charges();
        },
        "The zone's charges in list order, as Charge views (a new list at each read). A view writes through to\n"
        "the zone until the zone's charge list changes (add_charge, an assignment here, a cast by one of its\n"
        "agents, a fold into it); after that it raises RuntimeError, so read charges again.\n"
        "Assigning a sequence of Charge replaces the list by copies of them; any other item is refused with\n"
        "TypeError, and so is a stale view.");
    def_named_field(environment, "is_time_frozen", &orv::Environment::is_time_frozen,
                    "Whether the zone is frozen (bool): its agents are not offered the turn. The sequencer sets it at\n"
                    "the start of every frame: a zone is frozen while a sub-zone of it has not settled.");
    environment.def("__repr__", [](const orv::Environment& self) -> std::string {
        auto count = [](std::size_t n, const char* word) {
            return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
        };
        return "<Environment " + py::repr(py::str(self.id)).cast<std::string>() + ": " +
               count(self.charges.size(), "charge") + ", " + count(self.agents.size(), "agent") + ", " +
               count(self.sub_environments.size(), "sub-zone") + ">";
    });
    environment
        .def("to_json",
             [](const orv::Environment& self) {
                 return polled_text([&](orv::TextWriter& text) { self.write_json(text); });
             },
             "Returns the zone's JSON text, sub-zones included: {\"agents\", \"charges\", \"id\", \"is_time_frozen\",\n"
             "\"sub_environments\"}, NaN and infinite numbers written as null.\n\n"
             "Raises ValueError, before writing, for a text nested deeper than 10,000 JSON levels (about 5,000\n"
             "nested zones), and MemoryError when memory runs out. Signal handlers run about every MiB of text,\n"
             "so Ctrl-C raises KeyboardInterrupt during a long text.")
        .def(
            "add_charge",
            [](orv::Environment& self, double magnitude, orv::ChargePolarity polarity, std::string visual_id) {
                std::string id = checked_text(std::move(visual_id), "add_charge(): argument 'visual_id'");
                self.add_charge(orv::Charge(magnitude, polarity, std::move(id)));
            },
            py::arg("magnitude"), py::arg("polarity"), py::arg("visual_id"),
            "Adds a charge at the end of the zone's charges: magnitude a float, polarity a ChargePolarity,\n"
            "visual_id a str. Views read from charges before go stale.\n\n"
            "Returns None. Arguments of other types are refused with TypeError.")
        .def(
            "add_sub_environment",
            [](orv::Environment& self, Zone sub_env) {
                refuse_none(sub_env, "add_sub_environment()", "sub_env");
                self.add_environment(std::move(sub_env));
            },
            py::arg("sub_env"),
            "Makes sub_env (an Environment, shared, not copied) the last sub-zone of this zone.\n\n"
            "Returns None. Refuses None and other types with TypeError, and a zone that would close a cycle\n"
            "(this zone itself, or a zone that holds it) with ValueError naming both zones.");
    bind_agent<orv::PlusMagician>(environment, "add_plus_magician",
                           "Needs two charges or more: replaces them all by one charge, the sum of their signed "
                           "values.");
    bind_agent<orv::MinusMagician>(environment, "add_minus_magician",
                           "Needs two charges or more: replaces them all by one charge, the first signed value "
                           "minus every following one.");
    bind_agent<orv::MultiplyMagician>(environment, "add_multiply_magician",
                           "Needs two charges or more: replaces them all by one charge, the product of their "
                           "magnitudes.");
    bind_agent<orv::DivideMagician>(environment, "add_divide_magician",
                           "Needs two charges or more, every one after the first away from zero: divides the first "
                           "magnitude by each following one.");
    bind_agent<orv::PowerSorcerer>(environment, "add_power_sorcerer",
                           "Needs two charges or more: replaces the last two by the second to last raised to the "
                           "last.");
    bind_agent<orv::RootMagician>(environment, "add_root_magician",
                           "Needs a charge: takes the square root of a lone charge, or with two or more the root "
                           "of the last magnitude whose degree is the second to last.");
    bind_agent<orv::AbsMagician>(environment, "add_abs_magician",
                           "Needs a charge: makes every negative charge positive.");
    bind_agent<orv::FactorialMagician>(environment, "add_factorial_magician",
                           "Needs a last charge that is not negative: replaces it by its factorial.");
    bind_agent<orv::ModuloMagician>(environment, "add_modulo_magician",
                           "Needs two charges or more, the last away from zero: replaces the last two by the "
                           "remainder.");
    bind_agent<orv::LogMagician>(environment, "add_log_magician",
                           "Needs a last magnitude above zero: takes the base-10 logarithm of a lone charge, or "
                           "with two or more the last magnitude's logarithm in the base of the second to last.");
    bind_agent<orv::Chronomancer>(environment, "add_chronomancer",
                           "Never acts, so it never leaves: its zone never folds and keeps its parent frozen.");
    environment
        .def(
            "add_equals_gate",
            [](orv::Environment& self, std::string visual_id, double target) {
                self.add_magician(std::make_shared<orv::EqualsGate>(
                    checked_text(std::move(visual_id), "add_equals_gate(): argument 'visual_id'"), target));
            },
            py::arg("visual_id"), py::arg("target"),
            "Adds an Equals Gate (priority 0) at the end of the zone's agents: a gate that opens, and leaves the\n"
            "zone, when the zone's total is within 1e-6 of target (a float). It never changes a charge.\n\n"
            "Returns None. Arguments of other types are refused with TypeError.")
        .def(
            "add_inequality_gate",
            [](orv::Environment& self, std::string visual_id, double target, std::string comparison_type) {
                std::string id = checked_text(std::move(visual_id), "add_inequality_gate(): argument 'visual_id'");
                const auto type = orv::InequalityGate::comparison_from_text(
                    checked_text(std::move(comparison_type), "add_inequality_gate(): argument 'comparison_type'"));
                self.add_magician(std::make_shared<orv::InequalityGate>(std::move(id), target, type));
            },
            py::arg("visual_id"), py::arg("target"), py::arg("comparison_type"),
            "Adds The Judge (priority 0) at the end of the zone's agents: a gate that opens, and leaves the zone,\n"
            "when the zone's total compared with target (a float) by comparison_type holds. It never changes a\n"
            "charge; NaN never opens it.\n\n"
            "comparison_type is the rule's text: \"<=\", \">=\" and \">\" exactly name those comparisons, and every\n"
            "other str means \"<\" (\"<\" itself, but also \"==\", \"=>\", \" >\" or \"\"); the zone's JSON then writes\n"
            "the rule as \"<\". Level files accept only the four texts \"<\", \">\", \"<=\", \">=\".\n\n"
            "Returns None. A comparison_type that is not a str (None, say), and other arguments of the wrong\n"
            "type, are refused with TypeError; text that is not valid UTF-8 with ValueError.");

    py::class_<orv::NarrativeSequencer> sequencer(
        m, "NarrativeSequencer", "Runs a world, its root zone, one frame at a time (1,000 frames at most).");
    sequencer
        .def(py::init([](Zone env) {
                 refuse_none(env, "NarrativeSequencer()", "env");
                 return std::make_unique<orv::NarrativeSequencer>(std::move(env));
             }),
             py::arg("env"),
             "A sequencer of the world whose root is env (an Environment, shared), at frame 0. Refuses None\n"
             "and other types with TypeError.")
        // The report is written straight from the world, no document built; a signal handler that
        // raises during the writing ends it with the frame applied.
        .def(
            "next_frame",
            [](orv::NarrativeSequencer& self) {
                return polled_text([&](orv::TextWriter& text) { self.write_next_frame(text); });
            },
            "Runs one frame and returns its report: the root zone's JSON text after the frame (as to_json writes\n"
            "it) with \"meta\": {\"frame_index\", \"status\", \"message\", \"last_event\"}. The status is \"RUNNING\"\n"
            "while frames remain, \"FINISHED\" once nothing could cast or fold, and \"ERROR\" at the frame limit;\n"
            "after the end each call reports it again and changes nothing.\n\n"
            "Raises ValueError, before the frame runs, when the report would nest deeper than 10,000 JSON levels;\n"
            "MemoryError when memory runs out. Signal handlers run about every MiB of text: an exception they\n"
            "raise (KeyboardInterrupt) ends the call with the frame applied and its report lost.");
    def_named_field(sequencer, "is_finished", &orv::NarrativeSequencer::is_finished,
                    "Whether the run has ended (bool): nothing could cast or fold, or the frame limit was reached.");
    def_named_field(sequencer, "current_frame", &orv::NarrativeSequencer::current_frame,
                    "The number of frames run so far (int); the run ends at frame 1,000.");

    guard_initialisation<orv::ChargePolarity>(polarity, {"__init__", "__setstate__"});
    guard_initialisation<ChargeHandle>(charge, {"__init__"});
    guard_initialisation<orv::Environment>(environment, {"__init__"});
    guard_initialisation<orv::NarrativeSequencer>(sequencer, {"__init__"});
}
