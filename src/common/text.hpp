// Text helpers shared by every part of the core: maps keyed by text, UTF-8
// encoding of code points and the quoted forms of names and characters used
// in messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vx {

// A hash map keyed by text that can be searched with a std::string_view,
// without making a string for the lookup.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
template <class V>
using TextMap = std::unordered_map<std::string, V, TextHash, std::equal_to<>>;

// Appends the UTF-8 form of `cp` (surrogates are encoded as three bytes,
// as "surrogatepass" does).
void append_utf8(std::string& out, char32_t cp);

// A name quoted for a message: between double quotes; backslash and double
// quote preceded by a backslash; tab, CR, LF and NUL as \t \r \n \0; any other
// non-printable character or combining mark as \u{hex}. `utf8` must be valid.
[[nodiscard]] std::string quote_name(std::string_view utf8);

// A character quoted for a message: the same escapes between single quotes,
// escaping the single quote instead of the double quote; a lone surrogate is
// written as \u{XXXX} with at least four hex digits.
[[nodiscard]] std::string quote_char(char32_t cp);

// Unicode properties used by the quoted forms (tables generated from the
// Unicode database; see scripts/gen_unicode_tables.py).
[[nodiscard]] bool is_printable(char32_t cp) noexcept;
[[nodiscard]] bool is_grapheme_extend(char32_t cp) noexcept;

}  // namespace vx
