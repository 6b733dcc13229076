// TextWriter: compact JSON text written piece by piece into one growing buffer, with no document built.
// Plain strings are copied as they are; any other string, and every failure, goes through the library.
#include "model/text_writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>

namespace orv {

namespace {

// Bytes that a string may not hold to be copied as it stands: control characters, the quote and
// the backslash (which dump() escapes), and every non-ASCII byte (which must be checked as UTF-8).
constexpr std::array<unsigned char, 256> kNeedsCare = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
    return table;
}();

// As much as the JSON library's writer keeps for one number.
constexpr std::size_t kNumberRoom = 64;

}  // namespace

// Lets the library's writer append to the text.
class TextWriter::Adapter : public nlohmann::detail::output_adapter_protocol<char> {
public:
    explicit Adapter(TextWriter& writer) : writer_(writer) {}
    void write_character(char c) override { writer_.raw(c); }
    void write_characters(const char* s, std::size_t length) override {
        if (length != 0) writer_.raw(s, length);
    }

private:
    TextWriter& writer_;
};

TextWriter::TextWriter(std::size_t expected_size, std::function<void()> poll)
    : poll_(std::move(poll)), next_poll_(poll_ ? kPollInterval : std::numeric_limits<std::size_t>::max()) {
    grow(expected_size < 256 ? 256 : expected_size);
}

TextWriter::~TextWriter() { std::free(data_); }

void TextWriter::grow(std::size_t size) {
    if (size > std::numeric_limits<std::size_t>::max() / 2 - size_) throw std::bad_alloc();
    std::size_t capacity = capacity_ + capacity_ / 2;
    if (capacity < size_ + size) capacity = size_ + size;
    // realloc can move a large buffer by remapping its pages instead of copying them.
    void* moved = std::realloc(data_, capacity);
    if (moved == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(moved);
    capacity_ = capacity;
}

void TextWriter::string(const std::string& text) {
    const std::size_t size = text.size();
    char* out = room(size + 2);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    unsigned char care = 0;
    out[0] = '"';
    for (std::size_t i = 0; i < size; ++i) {
        out[i + 1] = static_cast<char>(in[i]);
        care |= kNeedsCare[in[i]];
    }
    if (care == 0) {
        out[size + 1] = '"';
        size_ += size + 2;
        return;
    }
    escaped_string(text);
}

void TextWriter::escaped_string(const std::string& text) {
    // The library writes this one string itself: escapes, UTF-8 checks and their errors are its own.
    if (!escaper_) {
        escaper_ = std::make_unique<nlohmann::detail::serializer<nlohmann::json>>(
            std::make_shared<Adapter>(*this), ' ', nlohmann::json::error_handler_t::strict);
    }
    const nlohmann::json value(text);
    escaper_->dump(value, false, false, 0);
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii_ = false;
            break;
        }
    }
}

void TextWriter::number(double value) {
    char* out = room(kNumberRoom);
    if (!std::isfinite(value)) {
        std::memcpy(out, "null", 4);
        size_ += 4;
        return;
    }
    size_ = static_cast<std::size_t>(nlohmann::detail::to_chars(out, out + kNumberRoom, value) - data_);
}

void TextWriter::integer(std::int64_t value) {
    char* out = room(kNumberRoom);
    size_ = static_cast<std::size_t>(std::to_chars(out, out + kNumberRoom, value).ptr - data_);
}

void TextWriter::poll_now() {
    next_poll_ = size_ + kPollInterval;
    if (poll_) poll_();
}

}  // namespace orv
