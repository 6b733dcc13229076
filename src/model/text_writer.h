// TextWriter: compact JSON text written piece by piece into one growing buffer, with no document built.
// Strings, numbers and string errors come out exactly as the JSON library's dump() writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace orv {

class TextWriter {
public:
    // Text between two calls of the poll function (see TextWriter(poll)).
    static constexpr std::size_t kPollInterval = std::size_t{1} << 20;

    // `expected_size` is the room the buffer starts with (a guess; it grows as needed). `poll`, when
    // set, is called between values each time about kPollInterval more bytes have been written; what
    // it throws ends the writing and leaves the text unfinished.
    explicit TextWriter(std::size_t expected_size = 0, std::function<void()> poll = {});
    ~TextWriter();
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    // Makes room for `size` bytes of text in all, so that writing up to there moves nothing.
    void reserve(std::size_t size) {
        if (size > size_) room(size - size_);
    }

    // Writes bytes as they stand: the callers' punctuation and keys, which are ASCII (the ASCII flag
    // is left as it is), and the library's escaped strings.
    void raw(const char* text, std::size_t size) {
        std::memcpy(room(size), text, size);
        size_ += size;
    }
    template <std::size_t N>
    void raw(const char (&text)[N]) {
        raw(text, N - 1);
    }
    void raw(char c) {
        *room(1) = c;
        ++size_;
    }

    // `text` as a JSON string literal, as dump() writes it: quoted, escaped where needed, and the
    // JSON library's type_error 316 (same message, byte and index) when it is not valid UTF-8.
    void string(const std::string& text);
    // A double as dump() writes it: the library's own shortest round-trip form, null for NaN and
    // the infinities.
    void number(double value);
    void integer(std::int64_t value);
    void boolean(bool value) { value ? raw("true") : raw("false"); }

    // Calls the poll function when its interval has passed; cheap enough to call after every value.
    void checkpoint() {
        if (size_ >= next_poll_) poll_now();
    }

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    // True while every byte written so far is ASCII.
    bool ascii() const { return ascii_; }
    std::string str() const { return std::string(data_, size_); }

private:
    class Adapter;

    // Room for `size` more bytes at the end of the text.
    char* room(std::size_t size) {
        if (capacity_ - size_ < size) grow(size);
        return data_ + size_;
    }
    void grow(std::size_t size);
    void escaped_string(const std::string& text);
    void poll_now();

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool ascii_ = true;
    std::function<void()> poll_;
    std::size_t next_poll_;
    // The JSON library's writer, made on the first string that needs escaping or checking.
    std::unique_ptr<nlohmann::detail::serializer<nlohmann::json>> escaper_;
};

}  // namespace orv
