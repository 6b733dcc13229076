// Level files: level text scanned as Python's json module scans it (so a fault is placed and worded as
// the toolkit always placed and worded it), checked and built into an engine world; a world written back.
#include "toolkit/level_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "toolkit/kinds.h"

namespace orv {

namespace {

std::string error_text(const std::optional<std::string>& path, const std::string& expected,
                       const std::optional<std::string>& found) {
    std::string text;
    if (path) text = (path->empty() ? std::string("(top level)") : *path) + ": ";
    text += "expected " + expected;
    if (found) text += ", found " + *found;
    return text;
}

}  // namespace

LevelError::LevelError(std::optional<std::string> path_, std::string expected_, std::optional<std::string> found_)
    : std::runtime_error(error_text(path_, expected_, found_)),
      path(std::move(path_)),
      expected(std::move(expected_)),
      found(std::move(found_)) {}

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// ---------------------------------------------------------------- characters

unsigned char byte_at(std::string_view text, std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

// Bytes of the UTF-8 sequence at `i` as Python's decoder takes it (no surrogates, no overlong forms,
// nothing past U+10FFFF); 0 where it refuses the text.
std::size_t utf8_size(std::string_view text, std::size_t i) {
    const unsigned char lead = byte_at(text, i);
    if (lead < 0x80) return 1;
    unsigned char low = 0x80, high = 0xBF;
    std::size_t size = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    const unsigned char second = byte_at(text, i + 1);
    if (second < low || second > high) return 0;
    for (std::size_t k = 2; k < size; ++k) {
        const unsigned char next = byte_at(text, i + k);
        if (next < 0x80 || next > 0xBF) return 0;
    }
    return size;
}

// The code point at `i` of checked text, lone surrogates in their three-byte form included; moves
// `i` past it.
char32_t next_code_point(std::string_view text, std::size_t& i) {
    const char32_t lead = byte_at(text, i);
    const auto tail = [&](std::size_t k) { return static_cast<char32_t>(byte_at(text, i + k) & 0x3F); };
    char32_t c = lead;
    std::size_t size = 1;
    if (lead >= 0xF0) {
        c = ((lead & 0x07) << 18) | (tail(1) << 12) | (tail(2) << 6) | tail(3);
        size = 4;
    } else if (lead >= 0xE0) {
        c = ((lead & 0x0F) << 12) | (tail(1) << 6) | tail(2);
        size = 3;
    } else if (lead >= 0xC0) {
        c = ((lead & 0x1F) << 6) | tail(1);
        size = 2;
    }
    i += size;
    return c;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string hex(unsigned long value, int digits, bool upper) {
    char text[16];
    std::snprintf(text, sizeof text, upper ? "%0*lX" : "%0*lx", digits, value);
    return text;
}

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Decoded text as messages show it: a lone surrogate (which only an escape can write) as that escape.
std::string shown(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t c = next_code_point(text, i);
        if (is_surrogate(c)) {
            out += "\\u" + hex(c, 4, false);
        } else {
            out.append(text.data() + start, i - start);
        }
    }
    return out;
}

// Characters that str.isprintable() refuses among those Unicode assigns, with the surrogates and the
// private use areas. Unassigned code points, which it refuses too, count as printable here: only the
// wording of a stray character found where JSON was expected can differ.
constexpr std::pair<char32_t, char32_t> kUnprintable[] = {
    {0x0, 0x1F},         {0x7F, 0xA0},         {0xAD, 0xAD},         {0x600, 0x605},       {0x61C, 0x61C},
    {0x6DD, 0x6DD},      {0x70F, 0x70F},       {0x890, 0x891},       {0x8E2, 0x8E2},       {0x1680, 0x1680},
    {0x180E, 0x180E},    {0x2000, 0x200F},     {0x2028, 0x202F},     {0x205F, 0x2064},     {0x2066, 0x206F},
    {0x3000, 0x3000},    {0xD800, 0xF8FF},     {0xFEFF, 0xFEFF},     {0xFFF9, 0xFFFB},     {0x110BD, 0x110BD},
    {0x110CD, 0x110CD},  {0x13430, 0x1343F},   {0x1BCA0, 0x1BCA3},   {0x1D173, 0x1D17A},   {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},  {0xF0000, 0xFFFFD},   {0x100000, 0x10FFFD},
};

bool printable(char32_t c) {
    for (const auto& [low, high] : kUnprintable) {
        if (c < low) return true;
        if (c <= high) return false;
    }
    return true;
}

// Where a fault lies in the text: "line L, column C", columns counted in characters. A carriage
// return ends a line as a newline does (a file read as text turned both into newlines).
std::string position_text(std::string_view text, std::size_t pos) {
    std::size_t line = 1, line_start = 0;
    for (std::size_t i = 0; i < pos; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && byte_at(text, i + 1) != '\n')) {
            ++line;
            line_start = i + 1;
        }
    }
    std::size_t column = 1;
    for (std::size_t i = line_start; i < pos; ++i) column += (byte_at(text, i) & 0xC0) != 0x80;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The character found at a fault: quoted as JSON writes it with every character outside ASCII
// escaped, or named by its code point when it does not print.
std::string found_at(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return "the end of the file";
    const char32_t c = next_code_point(text, pos);
    if (c == '\r' || c == '\n') return "the end of the line";
    if (!printable(c)) return "the character U+" + hex(c, 4, true);
    if (c == '"' || c == '\\') return std::string("\"\\") + static_cast<char>(c) + "\"";
    if (c < 0x80) return std::string("\"") + static_cast<char>(c) + "\"";
    if (c < 0x10000) return "\"\\u" + hex(c, 4, false) + "\"";
    const char32_t v = c - 0x10000;
    return "\"\\u" + hex(0xD800 + (v >> 10), 4, false) + "\\u" + hex(0xDC00 + (v & 0x3FF), 4, false) + "\"";
}

std::string with_thousands(std::size_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits;
}

// ---------------------------------------------------------------- numbers

// strtod reads the point of the C library's current locale; the text's point is replaced by it.
double parse_double(std::string_view literal) {
    const char point = *std::localeconv()->decimal_point;
    char small[64];
    std::string large;
    char* buffer = small;
    if (literal.size() >= sizeof small) {
        large.resize(literal.size() + 1);
        buffer = large.data();
    }
    for (std::size_t i = 0; i < literal.size(); ++i) buffer[i] = literal[i] == '.' ? point : literal[i];
    buffer[literal.size()] = '\0';
    return std::strtod(buffer, nullptr);
}

// The digits of the shortest decimal that reads back as `value` (finite, above zero), the closest
// of them, and where its point goes: value = 0.DIGITS x 10^point.
std::string shortest_digits(double value, int& point) {
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
    char text[40];
    const char* text_end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
    const char* e = std::find(static_cast<const char*>(text), text_end, 'e');
    std::string digits(1, text[0]);
    if (e - text > 2) digits.append(text + 2, static_cast<std::size_t>(e - text - 2));
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), text_end, exponent);
    point = exponent + 1;
    return digits;
#else
    // Grisu2 (the JSON library's) reads back, but may give a digit more than needed, or not the
    // closest digits of its length: correctly rounded forms of its length and shorter are taken
    // while they read back.
    char buffer[32];
    int count = 0, exponent = 0;
    nlohmann::detail::dtoa_impl::grisu2(buffer, count, exponent, value);
    std::string digits(buffer, static_cast<std::size_t>(count));
    point = count + exponent;
    for (int length = count; length >= 1; --length) {
        char text[48];
        std::snprintf(text, sizeof text, "%.*e", length - 1, value);
        std::string rounded;
        const char* c = text;
        for (; *c != 'e'; ++c) {
            if (*c >= '0' && *c <= '9') rounded += *c;
        }
        const int rounded_point = std::atoi(c + 1) + 1;
        if (parse_double(rounded.substr(0, 1) + "." + rounded.substr(1) + "e" + std::to_string(rounded_point - 1)) != value) {
            break;
        }
        while (rounded.size() > 1 && rounded.back() == '0') rounded.pop_back();
        digits = std::move(rounded);
        point = rounded_point;
        length = static_cast<int>(digits.size());
    }
    return digits;
#endif
}

// A finite double as Python's repr writes it: the shortest digits, in positional form when the point
// falls within 16 places, else with an exponent of at least two digits.
void append_repr(std::string& out, double value) {
    if (value == 0) {
        out += std::signbit(value) ? "-0.0" : "0.0";
        return;
    }
    if (value < 0) out += '-';
    int point = 0;
    const std::string digits = shortest_digits(std::fabs(value), point);
    const int count = static_cast<int>(digits.size());
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-point), '0');
            out += digits;
        } else if (point >= count) {
            out += digits;
            out.append(static_cast<std::size_t>(point - count), '0');
            out += ".0";
        } else {
            out.append(digits, 0, static_cast<std::size_t>(point));
            out += '.';
            out.append(digits, static_cast<std::size_t>(point), std::string::npos);
        }
        return;
    }
    out += digits[0];
    if (count > 1) {
        out += '.';
        out.append(digits, 1, std::string::npos);
    }
    const int exponent = point - 1;
    out += exponent < 0 ? "e-" : "e+";
    const std::string power = std::to_string(exponent < 0 ? -exponent : exponent);
    if (power.size() < 2) out += '0';
    out += power;
}

// A string as Python's json.dumps(ensure_ascii=False) writes it: only the quote, the backslash and
// control characters escaped. The text is UTF-8.
void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default: out += "\\u" + hex(c, 4, false); break;
        }
    }
    out.append(text.data() + plain, text.size() - plain);
    out += '"';
}

// A found string as messages name it: as json.dumps(ensure_ascii=False) writes it, cut to 57
// characters and "..." when that is longer than 60 characters (a cut may fall inside an escape). A
// lone surrogate counts as one character and is shown as its escape.
std::string described_string(std::string_view text) {
    constexpr std::size_t kLongest = 60, kKept = 57;
    std::string out = "\"";
    std::size_t written = 1, cut = kNone;
    // Appends a piece of `characters` characters: an ASCII escape (a byte each) or one character.
    const auto add = [&](std::string_view piece, std::size_t characters) {
        if (cut == kNone && written + characters >= kKept) {
            cut = out.size() + (characters == 1 ? piece.size() : kKept - written);
        }
        out += piece;
        written += characters;
    };
    for (std::size_t i = 0; i < text.size() && written <= kLongest;) {
        const std::size_t start = i;
        const char32_t c = next_code_point(text, i);
        if (c < 0x20 || c == '"' || c == '\\') {
            std::string escape;
            append_json_string(escape, text.substr(start, 1));
            add(std::string_view(escape).substr(1, escape.size() - 2), escape.size() - 2);
        } else if (is_surrogate(c)) {
            add("\\u" + hex(c, 4, false), 1);
        } else {
            add(text.substr(start, i - start), 1);
        }
    }
    add("\"", 1);
    if (written <= kLongest) return out;
    out.resize(cut);
    return out + "...";
}

// ---------------------------------------------------------------- the document

enum class Type : unsigned char { Null, True, False, Integer, Float, String, List, Object };

// One value of the document. The values lie in document order, each container followed by its
// items (an object's as key, value, key, value ...), so a walk needs no pointers and no recursion.
// Offsets, sizes and indices are below the text's size, which is below 4 GiB.
struct Value {
    std::uint32_t begin = 0;  // a number's or a string's text: an offset in the text or, for a string
                              // with escapes, in Document::decoded
    std::uint32_t size = 0;   // bytes of that text; items of a list, members of an object
    std::uint32_t end = 0;    // index of the value that follows this one and all of its items
    Type type = Type::Null;
    bool decoded = false;
    bool lone_surrogate = false;  // a string holding one (in its three-byte form)
};

struct Document {
    std::string_view text;
    std::vector<Value> values;
    std::string decoded;

    const Value& operator[](std::size_t i) const { return values[i]; }

    std::string_view str(std::size_t i) const {
        const Value& value = values[i];
        const std::string_view from = value.decoded ? std::string_view(decoded) : text;
        return from.substr(value.begin, value.size);
    }

    // The value under `key` (the last one written, as a dict keeps it), or kNone.
    std::size_t member(std::size_t object, std::string_view key) const {
        std::size_t found = kNone;
        for (std::size_t k = object + 1; k < values[object].end; k = values[k + 1].end) {
            if (str(k) == key) found = k + 1;
        }
        return found;
    }
};

// ---------------------------------------------------------------- the scanner

// Turns the text into a Document as Python's json module reads it: the same values (NaN, Infinity and
// -Infinity included, integers of any length, lone surrogates kept), and each syntax fault at the
// position, and with the words, that the toolkit has always given. Containers are kept on a stack
// of their own.
class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {
        doc_.text = text;
    }

    Document scan() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") fail(0, "valid JSON");
        std::size_t pos = skip(0);
        bool want_value = true;
        for (;;) {
            if (want_value) {
                if (!open_.empty()) ++doc_.values[open_.back()].size;
                const char c = pos < text_.size() ? text_[pos] : '\0';
                if (pos < text_.size() && (c == '{' || c == '[')) {
                    open_.push_back(push(c == '{' ? Type::Object : Type::List, pos, 0));
                    pos = skip(pos + 1);
                    if (pos < text_.size() && text_[pos] == (c == '{' ? '}' : ']')) {
                        close();
                        pos = pos + 1;
                        want_value = false;
                    } else if (c == '{') {
                        pos = key(pos);
                    }
                    continue;
                }
                pos = scalar(pos);
                want_value = false;
                continue;
            }
            if (open_.empty()) break;
            const bool object = doc_.values[open_.back()].type == Type::Object;
            pos = skip(pos);
            if (pos < text_.size() && text_[pos] == (object ? '}' : ']')) {
                close();
                ++pos;
                continue;
            }
            if (pos >= text_.size() || text_[pos] != ',') fail(pos, "a comma or the closing bracket");
            pos = skip(pos + 1);
            if (object) pos = key(pos);
            want_value = true;
        }
        pos = skip(pos);
        if (pos != text_.size()) {
            throw LevelError(position_text(text_, pos), "one JSON document (a level, a zone or one frame report)",
                             "more data after it");
        }
        return std::move(doc_);
    }

private:
    [[noreturn]] void fail(std::size_t pos, const char* expected) const {
        throw LevelError(position_text(text_, pos), expected, found_at(text_, pos));
    }

    std::size_t skip(std::size_t pos) const {
        while (pos < text_.size() &&
               (text_[pos] == ' ' || text_[pos] == '\t' || text_[pos] == '\n' || text_[pos] == '\r')) {
            ++pos;
        }
        return pos;
    }

    std::size_t push(Type type, std::size_t begin, std::size_t size) {
        Value value;
        value.type = type;
        value.begin = static_cast<std::uint32_t>(begin);
        value.size = static_cast<std::uint32_t>(size);
        value.end = static_cast<std::uint32_t>(doc_.values.size() + 1);
        doc_.values.push_back(value);
        return doc_.values.size() - 1;
    }

    void close() {
        doc_.values[open_.back()].end = static_cast<std::uint32_t>(doc_.values.size());
        open_.pop_back();
    }

    bool word(std::size_t pos, std::string_view word) const { return text_.substr(pos, word.size()) == word; }

    std::size_t constant(Type type, std::size_t pos, std::size_t size) {
        push(type, pos, size);
        return pos + size;
    }

    // A key, its colon and the space after it: returns where its value starts.
    std::size_t key(std::size_t pos) {
        if (pos >= text_.size() || text_[pos] != '"') fail(pos, "a key in double quotes");
        pos = skip(string(pos + 1));
        if (pos >= text_.size() || text_[pos] != ':') fail(pos, "a colon after the key");
        return skip(pos + 1);
    }

    std::size_t scalar(std::size_t pos) {
        static constexpr const char* kValue = "a value (a number, a string, true, false, null, an object or a list)";
        if (pos >= text_.size()) fail(pos, kValue);
        switch (text_[pos]) {
            case '"': return string(pos + 1);
            case 'n':
                if (word(pos, "null")) return constant(Type::Null, pos, 4);
                break;
            case 't':
                if (word(pos, "true")) return constant(Type::True, pos, 4);
                break;
            case 'f':
                if (word(pos, "false")) return constant(Type::False, pos, 5);
                break;
            case 'N':
                if (word(pos, "NaN")) return constant(Type::Float, pos, 3);
                break;
            case 'I':
                if (word(pos, "Infinity")) return constant(Type::Float, pos, 8);
                break;
            case '-':
                if (word(pos, "-Infinity")) return constant(Type::Float, pos, 9);
                break;
            default: break;
        }
        // A number: -?(0|[1-9][0-9]*), then a fraction and an exponent only when digits follow them.
        const auto digit = [&](std::size_t i) { return i < text_.size() && text_[i] >= '0' && text_[i] <= '9'; };
        std::size_t i = pos;
        if (text_[i] == '-') ++i;
        if (!digit(i)) fail(pos, kValue);
        if (text_[i] == '0') {
            ++i;
        } else {
            while (digit(i)) ++i;
        }
        bool fraction = false;
        if (i < text_.size() && text_[i] == '.' && digit(i + 1)) {
            fraction = true;
            i += 2;
            while (digit(i)) ++i;
        }
        if (i + 1 < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
            std::size_t e = i + 1;
            if (e + 1 < text_.size() && (text_[e] == '+' || text_[e] == '-')) ++e;
            if (digit(e)) {
                while (digit(e)) ++e;
                fraction = true;
                i = e;
            }
        }
        push(fraction ? Type::Float : Type::Integer, pos, i - pos);
        return i;
    }

    std::size_t hex4(std::size_t pos) const {
        std::size_t value = 0;
        for (std::size_t k = pos; k < pos + 4; ++k) {
            const char c = text_[k];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<std::size_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<std::size_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<std::size_t>(c - 'A' + 10);
            } else {
                return kNone;
            }
        }
        return value;
    }

    // The string whose body starts at `start`; returns the position after its closing quote.
    std::size_t string(std::size_t start) {
        const std::size_t begin = start - 1;
        const std::size_t index = push(Type::String, start, 0);
        std::size_t chunk = start, i = start;
        bool escaped = false;
        std::size_t out = 0;
        for (;;) {
            while (i < text_.size()) {
                const unsigned char c = static_cast<unsigned char>(text_[i]);
                if (c == '"' || c == '\\') break;
                if (c < 0x20) fail(i, "no raw control character inside a string (write \\n or \\t)");
                ++i;
            }
            if (i >= text_.size()) {
                throw LevelError(position_text(text_, begin), "a closing double quote for the string that starts here",
                                 "the end of the file");
            }
            if (escaped) doc_.decoded.append(text_.data() + chunk, i - chunk);
            if (text_[i] == '"') break;
            if (!escaped) {
                escaped = true;
                out = doc_.decoded.size();
                doc_.decoded.append(text_.data() + chunk, i - chunk);
            }
            const std::size_t at = i + 1;  // the escape's letter
            if (at >= text_.size()) {
                throw LevelError(position_text(text_, begin), "a closing double quote for the string that starts here",
                                 "the end of the file");
            }
            static constexpr const char* kHex = "four hex digits after \\u";
            const char letter = text_[at];
            if (letter != 'u') {
                const char* from = "\"\\/bfnrt";
                const char* to = "\"\\/\b\f\n\r\t";
                const char* known = std::strchr(from, letter);
                if (letter == '\0' || known == nullptr) {
                    fail(i, "a valid escape (\\\" \\\\ \\/ \\b \\f \\n \\r \\t or \\uXXXX)");
                }
                doc_.decoded += to[known - from];
                i = at + 1;
            } else {
                std::size_t end = at + 5;  // after the four digits
                if (end >= text_.size()) fail(at, kHex);
                std::size_t c = hex4(at + 1);
                if (c == kNone) fail(at, kHex);
                if (c >= 0xD800 && c <= 0xDBFF && end + 6 < text_.size() && text_[end] == '\\' && text_[end + 1] == 'u') {
                    const std::size_t low = hex4(end + 2);
                    if (low == kNone) fail(end + 1, kHex);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        c = 0x10000 + (((c - 0xD800) << 10) | (low - 0xDC00));
                        end += 6;
                    }
                }
                if (is_surrogate(static_cast<char32_t>(c))) doc_.values[index].lone_surrogate = true;
                append_utf8(doc_.decoded, static_cast<char32_t>(c));
                i = end;
            }
            chunk = i;
        }
        Value& value = doc_.values[index];
        if (escaped) {
            value.decoded = true;
            value.begin = static_cast<std::uint32_t>(out);
            value.size = static_cast<std::uint32_t>(doc_.decoded.size() - out);
        } else {
            value.size = static_cast<std::uint32_t>(i - start);
        }
        return i + 1;
    }

    std::string_view text_;
    Document doc_;
    std::vector<std::size_t> open_;
};

// ---------------------------------------------------------------- checks

[[noreturn]] void fail(std::string path, std::string expected, std::string found) {
    throw LevelError(std::move(path), std::move(expected), std::move(found));
}

// A key's path below `path` ("" is the top level).
std::string at(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

// A JSON path, built only when a fault names it: a path already built (a zone's, made once per zone
// so that a deep tree costs no path text per level), or a key below another path, with an index when
// it names an item of a list. Made for the length of one call.
class Path {
public:
    Path(const std::string& whole) : whole_(&whole) {}  // NOLINT: any built path is one
    Path(const char* whole) : text_(whole) {}            // NOLINT
    Path(const Path& parent, const char* key, std::size_t index = kNone) : parent_(&parent), key_(key), index_(index) {}

    std::string str() const {
        if (whole_ != nullptr) return *whole_;
        if (text_ != nullptr) return text_;
        std::string path = at(parent_->str(), key_);
        return index_ == kNone ? path : path + "[" + std::to_string(index_) + "]";
    }

private:
    const std::string* whole_ = nullptr;
    const char* text_ = nullptr;
    const Path* parent_ = nullptr;
    const char* key_ = nullptr;
    std::size_t index_ = kNone;
};

std::string at(const Path& path, std::string_view key) { return at(path.str(), key); }

// "a", "b" or "c"
std::string choices(const std::vector<std::string>& words) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i != 0) text += i + 1 == words.size() ? " or " : ", ";
        text += "\"" + words[i] + "\"";
    }
    return text;
}

// The words that the engine's JSON gives a charge's polarity and an agent's state, read from the
// engine so that they stand only there.
constexpr ChargePolarity kPolarities[] = {ChargePolarity::POSITIVE, ChargePolarity::NEGATIVE, ChargePolarity::NEUTRAL};

const std::vector<std::string>& polarity_words() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> list;
        for (ChargePolarity polarity : kPolarities) {
            list.push_back(Charge(0.0, polarity, "").to_json()["polarity"].get<std::string>());
        }
        return list;
    }();
    return words;
}

const std::string& polarity_word(ChargePolarity polarity) {
    std::size_t which = 0;
    while (which + 1 < std::size(kPolarities) && kPolarities[which] != polarity) ++which;
    return polarity_words()[which];
}

const std::vector<std::string>& state_words() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> list;
        const auto agent = agent_kinds().front().make("", 0.0, "");
        for (auto state : {AgentState::DORMANT, AgentState::ACTIVE, AgentState::FROZEN}) {
            agent->state = state;
            list.push_back(agent->to_json()["state"].get<std::string>());
        }
        return list;
    }();
    return words;
}

constexpr const char* kNumber = "a number (or null for NaN) or the string \"inf\", \"-inf\" or \"nan\"";
constexpr const char* kRange = "a number within the range of a double (about \u00B11.8e308)";
constexpr std::size_t kMostDigits = 400;  // longer integers are never a double's worth of precision

using Keys = std::initializer_list<const char*>;
const Keys kLevelKeys = {"format", "title", "description", "pieces", "accepts", "world"};
const Keys kZoneKeys = {"id", "charges", "agents", "sub_environments", "is_time_frozen"};
const Keys kReportKeys = {"id", "charges", "agents", "sub_environments", "is_time_frozen", "meta"};
const Keys kChargeKeys = {"magnitude", "polarity", "visual_id"};
const Keys kAgentKeys = {"name", "visual_id", "priority", "state"};
const Keys kGateKeys = {"name", "visual_id", "priority", "state", "target_value", "is_open"};
const Keys kJudgeKeys = {"name", "visual_id", "priority", "state", "target_value", "is_open", "rule"};
const Keys kMetaKeys = {"frame_index", "status", "message", "last_event"};
const Keys kEventKeys = {"agent_name", "description", "type", "visual_id"};

// Reads a scanned document into a Level: the checks of the toolkit's loader, in its order (the
// whole level, then zones in preorder, each zone's own members before its sub-zones), the world
// built as they pass.
class Reader {
public:
    explicit Reader(const Document& doc) : doc_(doc) {}

    Level read() {
        Level level;
        Members top;
        top.fill(kNone);
        std::size_t world = 0;
        std::string base;
        if (doc_[0].type != Type::Object) fail("", "a level object, a zone or a frame report", describe(0));
        if (doc_.member(0, "format") != kNone || doc_.member(0, "world") != kNone) {
            top = members(0, kLevelKeys, "");
            const std::size_t format = require(top[0], "format", "");
            world = require(top[5], "world", "");
            if (!(doc_[format].type == Type::Integer && literal(format) == "1")) fail("format", "1", describe(format));
            if (top[1] != kNone) level.title = text(top[1], "title");
            if (top[2] != kNone) level.description = text(top[2], "description");
            base = "world";
        }
        level.world = read_zones(world, base, level);
        // Refusals that the toolkit's loader did not make come after all of its own.
        if (late_) throw *late_;
        read_tray(top[3], top[4], level);
        return level;
    }

private:
    // -------------------------------------------- values

    std::string_view literal(std::size_t i) const { return doc_.text.substr(doc_[i].begin, doc_[i].size); }

    std::size_t digits(std::size_t i) const { return literal(i).size() - (literal(i)[0] == '-'); }

    // How a found value is named: its JSON text (cut after 60 characters), or its shape.
    std::string describe(std::size_t i) const {
        const Value& value = doc_[i];
        switch (value.type) {
            case Type::Null: return "null";
            case Type::True: return "true";
            case Type::False: return "false";
            case Type::Integer: {
                const std::string_view text = literal(i);
                if (text == "-0") return "0";
                return text.size() <= 60 ? std::string(text) : std::string(text.substr(0, 57)) + "...";
            }
            case Type::Float: {
                const double number = float_value(i);
                if (std::isnan(number)) return "NaN";
                if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
                std::string text;
                append_repr(text, number);
                return text;
            }
            case Type::String: return described_string(doc_.str(i));
            case Type::List: return "a list of " + std::to_string(value.size) + (value.size == 1 ? " item" : " items");
            case Type::Object: {
                if (value.size == 0) return "an object";
                std::string text = "an object with the keys ";
                std::unordered_set<std::string_view> seen;
                for (std::size_t k = i + 1; k < value.end; k = doc_[k + 1].end) {
                    if (!seen.insert(doc_.str(k)).second) continue;
                    if (seen.size() > 1) text += ", ";
                    text += shown(doc_.str(k));
                }
                return text;
            }
        }
        return {};
    }

    double float_value(std::size_t i) const {
        const std::string_view text = literal(i);
        if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
        if (text == "Infinity") return std::numeric_limits<double>::infinity();
        if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
        return parse_double(text);
    }

    // The first lone surrogate of a string, as a fault names it; empty when there is none.
    std::string lone_surrogate(std::size_t i) const {
        if (!doc_[i].lone_surrogate) return {};
        const std::string_view value = doc_.str(i);
        std::size_t character = 1;
        for (std::size_t k = 0;; ++character) {
            const char32_t c = next_code_point(value, k);
            if (is_surrogate(c)) return "the lone surrogate \\u" + hex(c, 4, false) + " at character " + std::to_string(character);
        }
    }

    std::string text(std::size_t i, const Path& path) const {
        if (doc_[i].type != Type::String) fail(path.str(), "a string", describe(i));
        if (doc_[i].lone_surrogate) fail(path.str(), "text in Unicode characters", lone_surrogate(i));
        return std::string(doc_.str(i));
    }

    bool boolean(std::size_t i, const Path& path) const {
        if (doc_[i].type != Type::True && doc_[i].type != Type::False) fail(path.str(), "true or false", describe(i));
        return doc_[i].type == Type::True;
    }

    double number(std::size_t i, const Path& path) const {
        switch (doc_[i].type) {
            case Type::Null: return std::numeric_limits<double>::quiet_NaN();
            case Type::Float: return float_value(i);
            case Type::Integer: {
                const double value = digits(i) > kMostDigits ? HUGE_VAL : parse_double(literal(i));
                if (std::isinf(value)) fail(path.str(), kRange, "an integer of " + with_thousands(digits(i)) + " digits");
                return value;
            }
            case Type::String: {
                const std::string_view word = doc_.str(i);
                if (word == "inf") return std::numeric_limits<double>::infinity();
                if (word == "-inf") return -std::numeric_limits<double>::infinity();
                if (word == "nan") return std::numeric_limits<double>::quiet_NaN();
                break;
            }
            default: break;
        }
        fail(path.str(), kNumber, describe(i));
    }

    // An integer literal's value when it fits, else none.
    std::optional<long long> integer(std::size_t i) const {
        if (doc_[i].type != Type::Integer) return std::nullopt;
        const std::string_view text = literal(i);
        long long value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
        return value;
    }

    bool one_of(std::size_t i, const std::vector<std::string>& words) const {
        if (doc_[i].type != Type::String) return false;
        for (const std::string& word : words) {
            if (doc_.str(i) == word) return true;
        }
        return false;
    }

    // -------------------------------------------- members

    // The value under each allowed key, in the order of `allowed` (kNone where there is none), once
    // the object's keys pass: keys written twice are refused, then keys not allowed, each the first
    // in the text.
    using Members = std::array<std::size_t, 8>;

    Members members(std::size_t object, Keys allowed, const Path& where, const std::string& context = "") const {
        Members found;
        found.fill(kNone);
        bool plain = true;
        for (std::size_t k = object + 1; k < doc_[object].end; k = doc_[k + 1].end) {
            std::size_t index = 0;
            for (const char* name : allowed) {
                if (doc_.str(k) == name) break;
                ++index;
            }
            if (index == allowed.size() || found[index] != kNone) plain = false;
            if (index < allowed.size()) found[index] = k + 1;
        }
        if (!plain) refuse_keys(object, allowed, where.str(), context);
        return found;
    }

    [[noreturn]] void refuse_keys(std::size_t object, Keys allowed, const std::string& path, const std::string& context) const {
        const Value& value = doc_[object];
        std::unordered_set<std::string_view> seen;  // for objects of many keys only
        std::size_t unknown = kNone;
        for (std::size_t k = object + 1; k < value.end; k = doc_[k + 1].end) {
            const std::string_view key = doc_.str(k);
            bool twice = false;
            if (value.size > 16) {
                twice = !seen.insert(key).second;
            } else {
                for (std::size_t before = object + 1; before < k && !twice; before = doc_[before + 1].end) {
                    twice = doc_.str(before) == key;
                }
            }
            if (twice) fail(at(path, shown(key)), "each key once", "\"" + shown(key) + "\" twice");
            bool known = false;
            for (const char* name : allowed) known = known || key == name;
            if (!known && unknown == kNone) unknown = k;
        }
        std::string list;
        for (const char* name : allowed) list += (list.empty() ? "" : ", ") + std::string(name);
        const std::string key = shown(doc_.str(unknown));
        fail(at(path, key), "one of the keys " + list + context, "the unknown key \"" + key + "\"");
    }

    // `found` itself, when a member was there.
    static std::size_t require(std::size_t found, const char* key, const Path& path) {
        if (found == kNone) fail(at(path, key), std::string("the key \"") + key + "\"", "nothing");
        return found;
    }

    // A member that must be a list (kNone when there is none: an empty list).
    std::size_t list(std::size_t found, const char* key, const Path& path) const {
        if (found != kNone && doc_[found].type != Type::List) fail(at(path, key), "a list", describe(found));
        return found;
    }

    // Calls `each(value, index)` on the items of a list (none for kNone).
    template <typename Each>
    void items(std::size_t list, Each each) const {
        if (list == kNone) return;
        std::size_t index = 0;
        for (std::size_t k = list + 1; k < doc_[list].end; k = doc_[k].end) each(k, index++);
    }

    // -------------------------------------------- zones

    // Zones in preorder, each filled as it is checked: charges, agents, then its sub-zones attached
    // while still empty. `path` always holds the path of the zone being read: its parent's is a
    // prefix of it, so each zone costs only its own step.
    std::shared_ptr<Environment> read_zones(std::size_t world, const std::string& base, Level& level) {
        struct Pending {
            std::size_t value;
            std::size_t parent_path;  // size of the parent's path; kNone for the root
            std::size_t index;
            std::shared_ptr<Environment> zone;
        };
        auto root = std::make_shared<Environment>("");
        std::vector<Pending> pending{{world, kNone, 0, root}};
        std::string path = base;
        while (!pending.empty()) {
            Pending next = std::move(pending.back());
            pending.pop_back();
            if (next.parent_path != kNone) {
                path.resize(next.parent_path);
                path += path.empty() ? "sub_environments[" : ".sub_environments[";
                path += std::to_string(next.index);
                path += ']';
            }
            const std::size_t subs = read_zone(next.value, *next.zone, path, next.parent_path == kNone && base.empty(), level);
            const std::size_t first = pending.size();
            items(subs, [&](std::size_t value, std::size_t index) {
                auto child = std::make_shared<Environment>("");
                next.zone->add_environment(child);
                pending.push_back({value, path.size(), index, std::move(child)});
            });
            // Read in list order: the first sub-zone on top.
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
        }
        return root;
    }

    // Checks and fills one zone (its freeze flag as written) and returns its list of sub-zones (kNone
    // for none), which the caller attaches.
    std::size_t read_zone(std::size_t raw, Environment& zone, const std::string& path, bool report, Level& level) {
        if (doc_[raw].type != Type::Object) fail(path, "a zone object", describe(raw));
        // id, charges, agents, sub_environments, is_time_frozen[, meta]
        const Members found = members(raw, report ? kReportKeys : kZoneKeys, path);
        if (found[0] == kNone) fail(at(path, "id"), "the zone's id (a string)", "nothing");
        zone.id = text(found[0], Path(path, "id"));
        const bool frozen = found[4] != kNone && boolean(found[4], Path(path, "is_time_frozen"));
        if (report && found[5] != kNone) read_meta(found[5], level);
        const std::size_t charges = list(found[1], "charges", path);
        if (charges != kNone) zone.charges.reserve(doc_[charges].size);
        items(charges, [&](std::size_t value, std::size_t index) {
            zone.add_charge(read_charge(value, Path(path, "charges", index)));
        });
        items(list(found[2], "agents", path), [&](std::size_t value, std::size_t index) {
            zone.add_magician(read_agent(value, Path(path, "agents", index)));
        });
        const std::size_t subs = list(found[3], "sub_environments", path);
        zone.is_time_frozen = frozen;
        return subs;
    }

    Charge read_charge(std::size_t raw, const Path& path) const {
        if (doc_[raw].type != Type::Object) fail(path.str(), "a charge object", describe(raw));
        const Members found = members(raw, kChargeKeys, path);  // magnitude, polarity, visual_id
        for (std::size_t i = 0; i < kChargeKeys.size(); ++i) require(found[i], kChargeKeys.begin()[i], path);
        const std::vector<std::string>& words = polarity_words();
        if (!one_of(found[1], words)) fail(at(path, "polarity"), choices(words), describe(found[1]));
        std::size_t which = 0;
        while (doc_.str(found[1]) != words[which]) ++which;
        const double magnitude = number(found[0], Path(path, "magnitude"));
        return Charge(magnitude, kPolarities[which], text(found[2], Path(path, "visual_id")));
    }

    std::shared_ptr<MagicianAgent> read_agent(std::size_t raw, const Path& path) const {
        if (doc_[raw].type != Type::Object) fail(path.str(), "an agent object", describe(raw));
        const std::size_t name = doc_.member(raw, "name");
        const AgentKind* kind = nullptr;
        if (name != kNone && doc_[name].type == Type::String && !doc_[name].lone_surrogate) {
            kind = find_kind(doc_.str(name));
        }
        if (kind == nullptr) {
            members(raw, kJudgeKeys, path);
            std::string names, kinds;
            for (const AgentKind& k : agent_kinds()) {
                names += (names.empty() ? "\"" : ", \"") + k.name + "\"";
                kinds += (kinds.empty() ? "" : ", ") + k.kind;
            }
            fail(at(path, "name"), "an agent name (" + names + ") or kind (" + kinds + ")",
                 name == kNone ? "nothing" : describe(name));
        }
        // name, visual_id, priority, state[, target_value, is_open][, rule]
        const Members found =
            members(raw, kind->takes_rule ? kJudgeKeys : kind->gate ? kGateKeys : kAgentKeys, path, " for " + kind->name);
        const std::size_t visual_id = require(found[1], "visual_id", path);
        const std::size_t target = kind->gate ? require(found[4], "target_value", path) : kNone;
        const std::size_t rule = kind->takes_rule ? require(found[6], "rule", path) : kNone;
        std::string id = text(visual_id, Path(path, "visual_id"));
        if (found[2] != kNone && integer(found[2]) != std::optional<long long>(kind->priority)) {
            fail(at(path, "priority"), std::to_string(kind->priority) + " (the priority of " + kind->name + ")",
                 describe(found[2]));
        }
        if (found[3] != kNone && !one_of(found[3], state_words())) {
            fail(at(path, "state"), choices(state_words()), describe(found[3]));
        }
        if (kind->gate && found[5] != kNone) boolean(found[5], Path(path, "is_open"));
        const double target_value = kind->gate ? number(target, Path(path, "target_value")) : 0.0;
        if (kind->takes_rule && !one_of(rule, judge_rules())) fail(at(path, "rule"), choices(judge_rules()), describe(rule));
        return kind->make(std::move(id), target_value, kind->takes_rule ? std::string(doc_.str(rule)) : std::string());
    }

    // -------------------------------------------- pieces

    // A puzzle's pieces (agents as a zone lists them) and the paths of the zones that accept them,
    // each naming one zone of the world, once.
    void read_tray(std::size_t pieces, std::size_t accepts, Level& level) const {
        const Path top("");
        items(list(pieces, "pieces", top), [&](std::size_t value, std::size_t index) {
            level.tray.pieces.push_back(read_agent(value, Path(top, "pieces", index)));
        });
        if (accepts == kNone) return;
        if (doc_[accepts].type != Type::List) fail("accepts", "a list of zone paths", describe(accepts));
        std::vector<std::size_t> zones;
        items(accepts, [&](std::size_t value, std::size_t index) {
            const Path path(top, "accepts", index);
            const std::string named = text(value, path);
            const std::vector<std::size_t> found = zones_named(*level.world, named);
            if (found.empty()) {
                fail(path.str(), "the path of a zone, its ids from the root joined by \"/\" (" +
                                     zone_path_examples(*level.world) + ")",
                     described_string(named));
            }
            if (found.size() > 1) {
                fail(path.str(), "a path that names one zone",
                     described_string(named) + ", which names " + std::to_string(found.size()) + " zones");
            }
            if (std::find(zones.begin(), zones.end(), found.front()) != zones.end()) {
                fail(path.str(), "each zone once", described_string(named) + " a second time");
            }
            zones.push_back(found.front());
        });
        if (zones.empty() && !level.tray.pieces.empty()) {
            const std::size_t count = level.tray.pieces.size();
            fail("accepts", "a zone that accepts pieces (the level has " + std::to_string(count) +
                                (count == 1 ? " piece)" : " pieces)"),
                 "an empty list");
        }
        std::sort(zones.begin(), zones.end());
        level.tray.accepts = std::move(zones);
    }

    // A frame report's meta: every key optional, each of its type, the event whole when there is one.
    void read_meta(std::size_t raw, Level& level) {
        if (doc_[raw].type != Type::Object) fail("meta", "the report's meta object", describe(raw));
        const Members meta = members(raw, kMetaKeys, "meta");  // frame_index, status, message, last_event
        const std::size_t frame = meta[0], status = meta[1], message = meta[2], event = meta[3];
        if (frame != kNone && doc_[frame].type != Type::Integer) fail("meta.frame_index", "an integer", describe(frame));
        if (status != kNone && doc_[status].type != Type::String) fail("meta.status", "a string", describe(status));
        if (message != kNone && doc_[message].type != Type::String) fail("meta.message", "a string", describe(message));
        if (event != kNone && doc_[event].type != Type::Object && doc_[event].type != Type::Null) {
            fail("meta.last_event", "an event object or null", describe(event));
        }
        if (event != kNone && doc_[event].type == Type::Object) {
            const Members found = members(event, kEventKeys, "meta.last_event");
            for (std::size_t i = 0; i < kEventKeys.size(); ++i) require(found[i], kEventKeys.begin()[i], "meta.last_event");
            FrameEvent told;
            told.agent_name = text(found[0], "meta.last_event.agent_name");
            told.description = text(found[1], "meta.last_event.description");
            told.type = text(found[2], "meta.last_event.type");
            told.visual_id = text(found[3], "meta.last_event.visual_id");
            level.event = std::move(told);
        }
        // The session keeps the frame as the sequencer's 32-bit counter and the status as text.
        const std::optional<long long> index = frame == kNone ? std::optional<long long>(0) : integer(frame);
        if (!index || *index < std::numeric_limits<std::int32_t>::min() || *index > std::numeric_limits<std::int32_t>::max()) {
            late_ = LevelError("meta.frame_index", "an integer from -2147483648 to 2147483647", describe(frame));
        } else if (status != kNone && doc_[status].lone_surrogate) {
            late_ = LevelError("meta.status", "text in Unicode characters", lone_surrogate(status));
        } else {
            level.frame = static_cast<std::int32_t>(*index);
            level.status = status == kNone ? std::string() : std::string(doc_.str(status));
        }
    }

    const Document& doc_;
    std::optional<LevelError> late_;
};

// ---------------------------------------------------------------- the writer

// The deepest JSON nesting that a level is written with indentation; deeper worlds are written on
// one line (as Python's json.dumps could only write them), since indentation grows with the square
// of the depth.
constexpr std::size_t kIndentedDepth = 1000;

// Level text as Python's json.dumps(indent=2, ensure_ascii=False) writes it, or without indent with
// its ", " and ": " separators.
class LevelText {
public:
    explicit LevelText(bool indented) : indented_(indented) {}

    void raw(std::string_view text) { out_ += text; }
    void string(const std::string& text, const char* what) {
        for (std::size_t i = 0; i < text.size();) {
            const std::size_t size = utf8_size(text, i);
            if (size == 0) {
                throw std::invalid_argument("write_level: " + std::string(what) + " is not UTF-8 text (the byte 0x" +
                                            hex(static_cast<unsigned char>(text[i]), 2, true) + " at offset " +
                                            std::to_string(i) + ")");
            }
            i += size;
        }
        append_json_string(out_, text);
    }
    void number(double value) {
        if (std::isnan(value)) {
            out_ += "\"nan\"";
        } else if (std::isinf(value)) {
            out_ += value > 0 ? "\"inf\"" : "\"-inf\"";
        } else {
            append_repr(out_, value);
        }
    }
    // Opens an object or a list; `empty` writes it whole.
    void open(char bracket, bool empty) {
        out_ += bracket;
        if (empty) out_ += bracket == '{' ? '}' : ']';
    }
    // The separator before item `index` of a container at `level`.
    void item(std::size_t level, std::size_t index) {
        if (index != 0) out_ += indented_ ? "," : ", ";
        newline(level + 1);
    }
    void key(std::size_t level, std::size_t index, const char* name) {
        item(level, index);
        out_ += '"';
        out_ += name;
        out_ += "\": ";
    }
    void close(std::size_t level, char bracket) {
        newline(level);
        out_ += bracket;
    }
    std::string take() { return std::move(out_); }

private:
    void newline(std::size_t level) {
        if (!indented_) return;
        out_ += '\n';
        out_.append(2 * level, ' ');
    }

    bool indented_;
    std::string out_;
};

// An agent's members as the engine writes them (its own JSON object, whose members are scalars),
// numbers exact.
void write_agent(LevelText& out, const MagicianAgent& agent, std::size_t level) {
    const nlohmann::json members = agent.to_json();
    out.open('{', members.empty());
    std::size_t index = 0;
    for (const auto& [key, value] : members.items()) {
        out.key(level, index++, key.c_str());
        switch (value.type()) {
            case nlohmann::json::value_t::boolean: out.raw(value.get<bool>() ? "true" : "false"); break;
            case nlohmann::json::value_t::number_integer:
            case nlohmann::json::value_t::number_unsigned: out.raw(value.dump()); break;
            case nlohmann::json::value_t::number_float: out.number(value.get<double>()); break;
            case nlohmann::json::value_t::string: out.string(value.get<std::string>(), "an agent's member"); break;
            default: throw std::logic_error("write_level: an agent's member \"" + key + "\" is not a scalar");
        }
    }
    if (!members.empty()) out.close(level, '}');
}

// The zone object of `zone` at nesting `level`, up to and including the opening of its sub-zone list
// (or the whole object when it has no sub-zones).
void open_zone(LevelText& out, const Environment& zone, std::size_t level) {
    out.open('{', false);
    out.key(level, 0, "agents");
    out.open('[', zone.agents.empty());
    for (std::size_t i = 0; i < zone.agents.size(); ++i) {
        out.item(level + 1, i);
        write_agent(out, *zone.agents[i], level + 2);
    }
    if (!zone.agents.empty()) out.close(level + 1, ']');
    out.key(level, 1, "charges");
    out.open('[', zone.charges.empty());
    for (std::size_t i = 0; i < zone.charges.size(); ++i) {
        const Charge& charge = zone.charges[i];
        out.item(level + 1, i);
        out.open('{', false);
        out.key(level + 2, 0, "magnitude");
        out.number(charge.magnitude);
        out.key(level + 2, 1, "polarity");
        out.string(polarity_word(charge.polarity), "a polarity");
        out.key(level + 2, 2, "visual_id");
        out.string(charge.visual_id, "a charge's visual id");
        out.close(level + 2, '}');
    }
    if (!zone.charges.empty()) out.close(level + 1, ']');
    out.key(level, 2, "id");
    out.string(zone.id, "a zone's id");
    out.key(level, 3, "is_time_frozen");
    out.raw(!zone.sub_environments.empty() && zone.is_time_frozen ? "true" : "false");
    out.key(level, 4, "sub_environments");
    out.open('[', zone.sub_environments.empty());
    if (zone.sub_environments.empty()) out.close(level, '}');
}

// How deeply the level document of `world` nests: the level object, then per zone L levels down an
// object at 2 + 2L, its lists at 3 + 2L and their objects at 4 + 2L.
std::size_t level_depth(const Environment& world) {
    std::size_t deepest = 0;
    std::vector<std::pair<const Environment*, std::size_t>> pending{{&world, 2}};
    while (!pending.empty()) {
        auto [zone, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth + (zone->agents.empty() && zone->charges.empty() ? 1 : 2));
        for (const auto& sub : zone->sub_environments) pending.emplace_back(sub.get(), depth + 2);
    }
    return deepest;
}

}  // namespace

Level read_level(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        std::uint64_t eight = 0;  // ASCII eight bytes at a time
        if (i + 8 <= text.size() && (std::memcpy(&eight, text.data() + i, 8), eight & 0x8080808080808080u) == 0) {
            i += 8;
            continue;
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t size = utf8_size(text, i);
        if (size == 0) {
            throw LevelError(std::nullopt, "UTF-8 text",
                             "the byte 0x" + hex(static_cast<unsigned char>(text[i]), 2, true) + " at offset " +
                                 std::to_string(i));
        }
        i += size;
    }
    if (static_cast<std::uint64_t>(text.size()) >= (std::uint64_t{1} << 32)) {
        throw LevelError(std::nullopt, "a level text of less than 4 GiB", std::to_string(text.size()) + " bytes");
    }
    const Document doc = Scanner(text).scan();
    return Reader(doc).read();
}

std::string write_level(const Environment& world, const std::string& title, const std::string& description,
                        const Tray& tray) {
    LevelText out(level_depth(world) <= kIndentedDepth);
    out.open('{', false);
    out.key(0, 0, "format");
    out.raw("1");
    out.key(0, 1, "title");
    out.string(title, "the title");
    out.key(0, 2, "description");
    out.string(description, "the description");
    std::size_t key = 3;
    if (!tray.pieces.empty()) {
        out.key(0, key++, "pieces");
        out.open('[', false);
        for (std::size_t i = 0; i < tray.pieces.size(); ++i) {
            out.item(1, i);
            write_agent(out, *tray.pieces[i], 2);
        }
        out.close(1, ']');
    }
    if (tray.accepts) {
        const std::vector<std::string> paths = accepted_paths(world, *tray.accepts);
        out.key(0, key++, "accepts");
        out.open('[', paths.empty());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            out.item(1, i);
            out.string(paths[i], "a zone's path");
        }
        if (!paths.empty()) out.close(1, ']');
    }
    out.key(0, key, "world");
    // A zone k levels below the world is an object at nesting 1 + 2k; the walk keeps its own stack.
    struct Step {
        const Environment* zone;
        std::size_t next;
    };
    std::vector<Step> path;
    open_zone(out, world, 1);
    if (!world.sub_environments.empty()) path.push_back({&world, 0});
    while (!path.empty()) {
        Step& top = path.back();
        const std::size_t level = 1 + 2 * (path.size() - 1);
        if (top.next < top.zone->sub_environments.size()) {
            const Environment& sub = *top.zone->sub_environments[top.next];
            out.item(level + 1, top.next++);
            open_zone(out, sub, level + 2);
            if (!sub.sub_environments.empty()) path.push_back({&sub, 0});
        } else {
            out.close(level + 1, ']');
            out.close(level, '}');
            path.pop_back();
        }
    }
    out.close(0, '}');
    out.raw("\n");
    return out.take();
}

}  // namespace orv
