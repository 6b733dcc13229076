// Text that enters the engine from Python: the UTF-8 check and the refusal that names the argument.
// The check follows the well-formed byte sequences of UTF-8, which Python's strict decoder also follows.
#include "bindings/text.h"

#include <algorithm>
#include <cstdio>

#include <pybind11/pybind11.h>

namespace orv::bindings {

namespace {

// Bytes of the value shown in a refusal; a longer value is cut there and its length follows.
constexpr std::size_t kShownBytes = 200;

}  // namespace

std::size_t utf8_fault(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // How many continuation bytes follow the lead byte, and the range of the first of them (which
        // rules out overlong forms, surrogates and values past U+10FFFF); the others are 80..BF.
        std::size_t follow = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            follow = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            follow = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            follow = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return i;
        }
        if (size - i <= follow) return i;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return i;
        for (std::size_t k = 2; k <= follow; ++k) {
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return i;
        }
        i += follow + 1;
    }
    return std::string::npos;
}

std::string checked_text(std::string text, const char* what) {
    const std::size_t fault = utf8_fault(text);
    if (fault == std::string::npos) return text;
    namespace py = pybind11;
    const std::size_t shown = std::min(text.size(), kShownBytes);
    std::string value = py::repr(py::bytes(text.data(), shown)).cast<std::string>();
    if (shown < text.size()) value += "\u2026 (" + std::to_string(text.size()) + " bytes)";
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[fault]));
    throw py::value_error(std::string(what) + " must be UTF-8 text, but " + value + " is not valid UTF-8 from index " +
                          std::to_string(fault) + " (byte " + byte + ")");
}

}  // namespace orv::bindings
