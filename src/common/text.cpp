#include "common/text.hpp"

#include <cstdio>

namespace vx {
namespace {

// Decodes one code point of valid UTF-8 at `i`, advancing `i`.
char32_t next_codepoint(std::string_view s, size_t& i) noexcept {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
  char32_t cp = b & (0x3F >> extra);
  ++i;
  for (int k = 0; k < extra && i < s.size(); ++k, ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return cp;
}

void append_hex_escape(std::string& out, char32_t cp, bool braces) {
  char buf[16];
  std::snprintf(buf, sizeof buf, braces ? "\\u{%x}" : "\\u%04x", static_cast<unsigned>(cp));
  out += buf;
}

// One character of a quoted form; `quote` is the delimiter being escaped.
void append_escaped(std::string& out, char32_t cp, char quote) {
  switch (cp) {
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\0': out += "\\0"; return;
    case '\\': out += "\\\\"; return;
    default: break;
  }
  if (cp == static_cast<char32_t>(quote)) {
    out += '\\';
    out += quote;
    return;
  }
  if (cp >= 0xD800 && cp <= 0xDFFF) {
    append_hex_escape(out, cp, false);
    return;
  }
  if (!is_printable(cp) || is_grapheme_extend(cp)) {
    append_hex_escape(out, cp, true);
    return;
  }
  append_utf8(out, cp);
}

}  // namespace

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string quote_name(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  for (size_t i = 0; i < utf8.size();) append_escaped(out, next_codepoint(utf8, i), '"');
  out += '"';
  return out;
}

std::string quote_char(char32_t cp) {
  std::string out = "'";
  append_escaped(out, cp, '\'');
  out += '\'';
  return out;
}

}  // namespace vx
