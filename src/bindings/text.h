// Text that enters the engine from Python: ids, visual ids and rule texts must be valid UTF-8.
// A str always is; bytes and bytearray, which pybind11 hands over as they are, may hold anything.
#pragma once

#include <cstddef>
#include <string>

namespace orv::bindings {

// The index of the first byte of the first sequence in `text` that is not valid UTF-8 (a stray or
// cut-off byte, an overlong form, a surrogate, a value past U+10FFFF), or std::string::npos when
// all of it is valid: the same index that Python's UTF-8 decoder reports as the start of its error.
std::size_t utf8_fault(const std::string& text);

// `text` itself when it is valid UTF-8. Otherwise throws pybind11::value_error naming `what` (such as
// "Environment(): argument 'id'") and showing the value (cut after 200 bytes) and where it goes wrong.
std::string checked_text(std::string text, const char* what);

}  // namespace orv::bindings
