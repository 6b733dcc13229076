// Objects made by __new__ without __init__: every bound call that reads one raises TypeError.
// pybind11 would otherwise hand the call freshly allocated memory that no constructor ever set up.
#pragma once

#include <memory>
#include <string>

#include <pybind11/pybind11.h>

#include "bindings/charge_handle.h"
#include "model/charge.h"
#include "model/environment.h"
#include "sequencer/sequencer.h"

namespace orv::bindings {

// True when `object` is an instance of the class bound to T whose value was constructed (its
// __init__ ran); objects of other types are left to the caster, which refuses them as usual.
template <typename T>
bool initialised(pybind11::handle object) {
    auto* type = pybind11::detail::get_type_info(typeid(T));
    if (type == nullptr || !object || !PyObject_TypeCheck(object.ptr(), type->type)) return true;
    auto held = reinterpret_cast<pybind11::detail::instance*>(object.ptr())->get_value_and_holder(type, false);
    return held && held.holder_constructed();
}

template <typename T>
void require_initialised(pybind11::handle object) {
    if (!initialised<T>(object)) {
        throw pybind11::type_error(std::string(Py_TYPE(object.ptr())->tp_name) +
                                   " object is not initialised: it was made by __new__ without __init__");
    }
}

// Sets up, on the calling thread, the thread-local storage of the C++ runtime (its exception state)
// and of this module. The C library does that on first use and ends the process when it has no
// memory for it, so it is done at every call that reaches the engine, before the engine can run out
// of memory, rather than at the thread's first exception.
void prepare_thread();

// A caster of T's objects (Base) that first refuses an object whose __init__ never ran. Every bound
// call passes its engine objects through one, so it also prepares the calling thread.
template <typename T, typename Base>
class InitialisedCaster : public Base {
public:
    bool load(pybind11::handle source, bool convert) {
        prepare_thread();
        require_initialised<T>(source);
        return Base::load(source, convert);
    }
};

// Replaces the class's initialiser `name` (__init__, or __setstate__ of an enumeration) by one that
// refuses a live object: pybind11 would silently ignore a second call. The replacement forwards
// everything else, so signatures, documentation and the refusals of bad arguments stay pybind11's.
template <typename T, typename Class>
void refuse_second_initialisation(Class& cls, const char* name) {
    namespace py = pybind11;
    py::object original = cls.attr(name);
    const std::string doc = py::str(original.attr("__doc__"));
    const std::string type_name = py::str(cls.attr("__name__"));
    const std::string refusal = type_name + "." + name + "() refused: this " + type_name +
                                " object is already initialised (make a new one instead)";
    py::options options;
    options.disable_function_signatures();
    cls.attr(name) = py::cpp_function(
        [original, refusal](py::handle self, py::args args, py::kwargs kwargs) {
            if (initialised<T>(self)) throw py::type_error(refusal);
            return original(self, *args, **kwargs);
        },
        py::is_method(cls), py::doc(doc.c_str()));
}

// Replaces pybind11's _pybind11_conduit_v1_ (the raw pointer handed to other extensions) by one that
// refuses an object whose __init__ never ran, as every other call does.
template <typename T, typename Class>
void guard_conduit(Class& cls) {
    namespace py = pybind11;
    cls.attr("_pybind11_conduit_v1_") = py::cpp_function(
        [](py::handle self, const py::bytes& abi, const py::capsule& type, const py::bytes& kind) {
            require_initialised<T>(self);
            return py::detail::cpp_conduit_method(self, abi, type, kind);
        },
        py::is_method(cls), py::name("_pybind11_conduit_v1_"));
}

}  // namespace orv::bindings

namespace pybind11::detail {

template <>
class type_caster<orv::bindings::ChargeHandle>
    : public orv::bindings::InitialisedCaster<orv::bindings::ChargeHandle, type_caster_base<orv::bindings::ChargeHandle>> {};
template <>
class type_caster<orv::Environment>
    : public orv::bindings::InitialisedCaster<orv::Environment, type_caster_base<orv::Environment>> {};
template <>
class type_caster<std::shared_ptr<orv::Environment>>
    : public orv::bindings::InitialisedCaster<orv::Environment,
                                              copyable_holder_caster<orv::Environment, std::shared_ptr<orv::Environment>>> {};
template <>
class type_caster<orv::NarrativeSequencer>
    : public orv::bindings::InitialisedCaster<orv::NarrativeSequencer, type_caster_base<orv::NarrativeSequencer>> {};
template <>
class type_caster<orv::ChargePolarity>
    : public orv::bindings::InitialisedCaster<orv::ChargePolarity, type_caster_enum_type<orv::ChargePolarity>> {};

}  // namespace pybind11::detail
