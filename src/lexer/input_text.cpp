#include "lexer/input_text.hpp"

#include <bit>
#include <cstring>
#include <limits>

#include "common/internal_failure.hpp"
#include "common/text.hpp"

namespace vx {
namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

uint64_t load8(const char* p) noexcept {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// Number of UTF-8 continuation bytes (10xxxxxx) in [p, p + n).
size_t count_continuations(const char* p, size_t n) noexcept {
  size_t count = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w = load8(p + i);
    // Bit 7 of each byte: set in the byte, bit 6 clear (w << 1 moves bit 6 to 7).
    count += static_cast<size_t>(std::popcount(w & ~(w << 1) & kHighBits));
  }
  for (; i < n; ++i) count += is_continuation(static_cast<unsigned char>(p[i])) ? 1 : 0;
  return count;
}

// Length of the valid UTF-8 sequence at `i`, or 0 when the bytes there are
// not one (overlong forms, surrogates and values above 10FFFF included).
size_t utf8_sequence_length(std::string_view s, size_t i) noexcept {
  auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b = at(i);
  size_t left = s.size() - i;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return left >= 2 && is_continuation(at(i + 1)) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    if (left < 3 || !is_continuation(at(i + 1)) || !is_continuation(at(i + 2))) return 0;
    unsigned char c = at(i + 1);
    if (b == 0xE0 && c < 0xA0) return 0;   // overlong
    if (b == 0xED && c >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (left < 4 || !is_continuation(at(i + 1)) || !is_continuation(at(i + 2)) || !is_continuation(at(i + 3)))
      return 0;
    unsigned char c = at(i + 1);
    if (b == 0xF0 && c < 0x90) return 0;  // overlong
    if (b == 0xF4 && c >= 0x90) return 0;  // above 10FFFF
    return 4;
  }
  return 0;
}

char32_t decode_at(std::string_view s, size_t i) noexcept {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return b;
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
  char32_t cp = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  return cp;
}

bool is_scalar_value(uint32_t cp) noexcept { return cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF); }

}  // namespace

bool is_all_ascii(std::string_view bytes) noexcept {
  const char* p = bytes.data();
  size_t n = bytes.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    if (load8(p + i) & kHighBits) return false;
  for (; i < n; ++i)
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
  return true;
}

InputText InputText::from_utf8(std::string utf8) {
  InputText in;
  in.text_ = std::move(utf8);
  in.is_ascii_ = is_all_ascii(in.text_);
  if (in.is_ascii_) {
    in.length_ = in.text_.size();
    return in;
  }
  in.build_index();
  return in;
}

InputText InputText::from_code_points(std::vector<uint32_t> code_points) {
  InputText in;
  in.text_.reserve(code_points.size());
  for (uint32_t cp : code_points) append_utf8(in.text_, is_scalar_value(cp) ? char32_t(cp) : U'\uFFFD');
  in.surrogate_ = true;
  in.is_ascii_ = is_all_ascii(in.text_);  // never true in practice: the input holds a surrogate
  in.code_points_ = std::move(code_points);
  if (in.is_ascii_) {
    in.length_ = in.text_.size();
    return in;
  }
  in.build_index();
  if (in.length_ != in.code_points_.size()) internal_failure("input text: code point list and text differ in length");
  return in;
}

void InputText::build_index() {
  const std::string_view s = text_;
  const size_t chars = s.size() - count_continuations(s.data(), s.size());
  const bool wide = s.size() > std::numeric_limits<uint32_t>::max();
  if (wide)
    wide_offsets_.reserve(chars);
  else
    offsets_.reserve(chars);
  for (size_t i = 0; i < s.size();) {
    size_t n = utf8_sequence_length(s, i);
    if (n == 0) internal_failure("input text: invalid UTF-8 at byte " + std::to_string(i));
    if (wide)
      wide_offsets_.push_back(i);
    else
      offsets_.push_back(static_cast<uint32_t>(i));
    i += n;
  }
  length_ = wide ? wide_offsets_.size() : offsets_.size();
}

size_t InputText::byte_offset(uint64_t pos) const {
  if (pos >= length_) {
    if (pos == length_) return text_.size();
    internal_failure("input text: position " + std::to_string(pos) + " beyond the text");
  }
  return is_ascii_ ? static_cast<size_t>(pos) : offset_entry(pos);
}

char32_t InputText::code_point_checked(uint64_t pos) const {
  if (pos >= length_) internal_failure("input text: no character at position " + std::to_string(pos));
  if (surrogate_) return code_points_[pos];
  if (is_ascii_) return static_cast<unsigned char>(text_[pos]);
  return decode_at(text_, offset_entry(pos));
}

uint64_t InputText::position_after_checked(uint64_t pos, size_t nbytes) const {
  const size_t start = byte_offset(pos);
  if (nbytes > text_.size() - start) internal_failure("input text: match runs past the end of the text");
  if (is_ascii_) return pos + nbytes;
  const uint64_t end = pos + (nbytes - count_continuations(text_.data() + start, nbytes));
  // The entry of the end position must be exactly where the bytes end; this
  // also refuses a span that ends inside a character.
  if (end > length_ || byte_offset(end) != start + nbytes)
    internal_failure("input text: match span is not on character boundaries");
  return end;
}

Outcome<IgnoreSkip> skip_ignored(const InputText& input, uint64_t pos, uint64_t lineno,
                                 std::span<const uint32_t> ignore) {
  const uint64_t length = input.length();
  while (pos < length) {
    const char32_t cp = input.code_point(pos);
    bool ignored = false;
    for (uint32_t c : ignore)
      if (c == cp) {
        ignored = true;
        break;
      }
    if (!ignored) return IgnoreSkip{pos, lineno, false};
    if (cp == U'\n') {
      if (lineno == std::numeric_limits<uint64_t>::max())
        return overflow_error("line number exceeds the counter range");
      ++lineno;
    }
    ++pos;
  }
  return IgnoreSkip{pos, lineno, true};
}

}  // namespace vx
