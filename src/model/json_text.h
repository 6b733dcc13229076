// Text form of the engine's JSON values: compact, keys in byte order, strict UTF-8.
// Also the quoting of names in the engine's own error messages.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace orv {

// Deepest nesting of arrays and objects that the engine writes as text. A zone costs two levels (its
// object and its "sub_environments" array), so a chain of about 5,000 nested zones still writes.
// TextWriter's walks keep their own stack and need nothing more; the JSON library's writer behind
// to_text recurses once per level, so to_text also refuses a document nested deeper than the calling
// thread's stack can hold, before writing starts.
constexpr std::size_t kMaxTextDepth = 10000;

// How deep to_text may nest on the calling thread: kMaxTextDepth, or less where the thread's
// remaining stack is smaller than that depth needs.
std::size_t writable_depth();

// Refuses (std::length_error, "cannot write a JSON document nested <depth> levels deep: ...") a
// document deeper than `limit` levels.
void check_text_depth(std::size_t depth, std::size_t limit = kMaxTextDepth);

// How deeply arrays and objects nest in `value` (a scalar is 0, [] is 1, [[]] is 2).
std::size_t nesting_depth(const nlohmann::json& value);

// Compact text of `value`. Throws std::length_error when it nests deeper than writable_depth(),
// and the JSON library's type_error 316 when a string in it is not valid UTF-8.
std::string to_text(const nlohmann::json& value);

// The same for a value whose nesting_depth the caller already knows (from the shape it was built
// from), so the document is not walked for it. The text is written into a string that starts with
// room for `expected_size` bytes (a guess, such as the size of a previous text of the same kind).
std::string to_text(const nlohmann::json& value, std::size_t depth, std::size_t expected_size = 0);

// Destroys what `value` holds and leaves it null. Each array and object is emptied where it stands,
// children first, so the document is walked once; the library's destructor would first move every
// value onto a stack of its own. Walks `value` for its depth first and may throw std::bad_alloc;
// release(value, path) of json_release.h never allocates.
void release(nlohmann::json& value);

// Characters of a name that messages quote; a longer name is cut there.
constexpr std::size_t kQuotedNameLength = 200;

// `text` as a JSON string literal for messages; bytes that are not UTF-8 become U+FFFD. A name longer
// than kQuotedNameLength characters is cut after that many and followed by an ellipsis and its length
// in bytes, so a message stays small whatever the name: "abc...xyz"… (104857600 bytes).
std::string quote_name(const std::string& text);

}  // namespace orv
