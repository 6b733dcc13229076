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

// Registers add_<name>(visual_id) for an agent kind built from its visual id alone.
template <typename Agent>
void bind_agent(py::class_<orv::Environment, Zone>& cls, const char* name) {
    const std::string what = std::string(name) + "(): argument 'visual_id'";
    cls.def(
        name, [what](orv::Environment& zone, std::string visual_id) {
            zone.add_magician(std::make_shared<Agent>(checked_text(std::move(visual_id), what.c_str())));
        },
        py::arg("visual_id"));
}

// A read-write property whose refused writes name it and its argument:
// "current_frame(): incompatible function arguments ... (self: ..., value: int) ... Invoked with: ...".
template <typename Class, typename Get, typename Set>
void def_named_property(Class& cls, const char* name, Get get, Set set) {
    cls.def_property(name, get, py::cpp_function(set, py::is_method(cls), py::is_setter(), py::name(name), py::arg("value")));
}

// The same for a plain data member, read and written by value.
template <typename Class, typename Type, typename Field>
void def_named_field(Class& cls, const char* name, Field Type::*field) {
    def_named_property(
        cls, name, [field](const Type& self) { return self.*field; },
        [field](Type& self, Field value) { self.*field = std::move(value); });
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

    py::enum_<orv::ChargePolarity> polarity(m, "ChargePolarity");
    polarity.value("POSITIVE", orv::ChargePolarity::POSITIVE)
        .value("NEGATIVE", orv::ChargePolarity::NEGATIVE)
        .value("NEUTRAL", orv::ChargePolarity::NEUTRAL)
        .export_values();

    py::class_<ChargeHandle> charge(m, "Charge");
    charge.def(py::init([](double magnitude, orv::ChargePolarity polarity, std::string visual_id) {
                   std::string id = checked_text(std::move(visual_id), "Charge(): argument 'visual_id'");
                   return ChargeHandle(orv::Charge(magnitude, polarity, std::move(id)));
               }),
               py::arg("magnitude"), py::arg("polarity"), py::arg("visual_id"));
    def_named_property(
        charge, "magnitude", [](ChargeHandle& self) { return self.get().magnitude; },
        [](ChargeHandle& self, double value) { self.get().magnitude = value; });
    def_named_property(
        charge, "polarity", [](ChargeHandle& self) { return self.get().polarity; },
        [](ChargeHandle& self, orv::ChargePolarity value) { self.get().polarity = value; });
    def_named_property(
        charge, "visual_id", [](ChargeHandle& self) { return self.get().visual_id; },
        [](ChargeHandle& self, std::string value) {
            std::string text = checked_text(std::move(value), "Charge.visual_id: the value");
            self.get().visual_id = std::move(text);
        });
    charge.def("to_json", [](ChargeHandle& self) {
        orv::TextWriter text;
        self.get().write_json(text);
        return text_to_str(text);
    });
    charge.def("__repr__", [](ChargeHandle& self) -> std::string {
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

    py::class_<orv::Environment, Zone> environment(m, "Environment");
    environment.def(py::init([](std::string id) {
                        return std::make_shared<orv::Environment>(
                            checked_text(std::move(id), "Environment(): argument 'id'"));
                    }),
                    py::arg("id"));
    def_named_property(
        environment, "id", [](const orv::Environment& self) { return self.id; },
        [](orv::Environment& self, std::string value) {
            self.id = checked_text(std::move(value), "Environment.id: the value");
        });
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
        });
    def_named_field(environment, "is_time_frozen", &orv::Environment::is_time_frozen);
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
             })
        .def(
            "add_charge",
            [](orv::Environment& self, double magnitude, orv::ChargePolarity polarity, std::string visual_id) {
                std::string id = checked_text(std::move(visual_id), "add_charge(): argument 'visual_id'");
                self.add_charge(orv::Charge(magnitude, polarity, std::move(id)));
            },
            py::arg("magnitude"), py::arg("polarity"), py::arg("visual_id"))
        .def(
            "add_sub_environment",
            [](orv::Environment& self, Zone sub_env) {
                refuse_none(sub_env, "add_sub_environment()", "sub_env");
                self.add_environment(std::move(sub_env));
            },
            py::arg("sub_env"));
    bind_agent<orv::PlusMagician>(environment, "add_plus_magician");
    bind_agent<orv::MinusMagician>(environment, "add_minus_magician");
    bind_agent<orv::MultiplyMagician>(environment, "add_multiply_magician");
    bind_agent<orv::DivideMagician>(environment, "add_divide_magician");
    bind_agent<orv::PowerSorcerer>(environment, "add_power_sorcerer");
    bind_agent<orv::RootMagician>(environment, "add_root_magician");
    bind_agent<orv::AbsMagician>(environment, "add_abs_magician");
    bind_agent<orv::FactorialMagician>(environment, "add_factorial_magician");
    bind_agent<orv::ModuloMagician>(environment, "add_modulo_magician");
    bind_agent<orv::LogMagician>(environment, "add_log_magician");
    bind_agent<orv::Chronomancer>(environment, "add_chronomancer");
    environment
        .def(
            "add_equals_gate",
            [](orv::Environment& self, std::string visual_id, double target) {
                self.add_magician(std::make_shared<orv::EqualsGate>(
                    checked_text(std::move(visual_id), "add_equals_gate(): argument 'visual_id'"), target));
            },
            py::arg("visual_id"), py::arg("target"))
        .def(
            "add_inequality_gate",
            [](orv::Environment& self, std::string visual_id, double target, std::string comparison_type) {
                std::string id = checked_text(std::move(visual_id), "add_inequality_gate(): argument 'visual_id'");
                const auto type = orv::InequalityGate::comparison_from_text(
                    checked_text(std::move(comparison_type), "add_inequality_gate(): argument 'comparison_type'"));
                self.add_magician(std::make_shared<orv::InequalityGate>(std::move(id), target, type));
            },
            py::arg("visual_id"), py::arg("target"), py::arg("comparison_type"),
            "Adds The Judge: a gate that opens when the zone's total compared with target by comparison_type\n"
            "holds. comparison_type is \"<\", \">\", \"<=\" or \">=\"; any other text (\"\", \"==\", \" >\", ...)\n"
            "builds a \"<\" gate, which callers may rely on. Text that is not valid UTF-8 is refused with\n"
            "ValueError.");

    py::class_<orv::NarrativeSequencer> sequencer(m, "NarrativeSequencer");
    sequencer
        .def(py::init([](Zone env) {
                 refuse_none(env, "NarrativeSequencer()", "env");
                 return std::make_unique<orv::NarrativeSequencer>(std::move(env));
             }),
             py::arg("env"))
        // The report is written straight from the world, no document built; a signal handler that
        // raises during the writing ends it with the frame applied.
        .def("next_frame", [](orv::NarrativeSequencer& self) {
            return polled_text([&](orv::TextWriter& text) { self.write_next_frame(text); });
        });
    def_named_field(sequencer, "is_finished", &orv::NarrativeSequencer::is_finished);
    def_named_field(sequencer, "current_frame", &orv::NarrativeSequencer::current_frame);

    guard_initialisation<orv::ChargePolarity>(polarity, {"__init__", "__setstate__"});
    guard_initialisation<ChargeHandle>(charge, {"__init__"});
    guard_initialisation<orv::Environment>(environment, {"__init__"});
    guard_initialisation<orv::NarrativeSequencer>(sequencer, {"__init__"});
}
