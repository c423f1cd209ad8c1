// The lexer's input text: the UTF-8 bytes the native matcher searches, and
// the mapping between code-point positions (what Python sees) and byte
// offsets (what RE2 sees).
//
// Three representations, chosen by the content of the input string:
//   pure ASCII  - the UTF-8 form, every byte below 0x80; positions are byte
//                 offsets and no index is kept;
//   UTF-8       - the UTF-8 form with at least one byte of 0x80 or more; one
//                 byte offset per position;
//   surrogate   - the string holds lone surrogates and has no UTF-8 form; the
//                 text holds U+FFFD for each of them (so it is valid UTF-8),
//                 with one byte offset per position, and the exact code
//                 points are kept beside it.
//
// An InputText never changes after it is built; the engine replaces it whole
// when new input is installed, so a scan may keep a shared handle on the one
// it started with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.hpp"

namespace vx {

// True when every byte of `bytes` is below 0x80 (checked eight at a time).
[[nodiscard]] bool is_all_ascii(std::string_view bytes) noexcept;

class InputText {
 public:
  // The empty input: pure ASCII, length 0.
  InputText() = default;

  // The pure-ASCII or UTF-8 representation of `utf8`, which must be valid
  // UTF-8 without surrogates (the interpreter's UTF-8 form of a str);
  // invalid bytes are a broken invariant.
  [[nodiscard]] static InputText from_utf8(std::string utf8);

  // The surrogate representation of a string given by its code points: the
  // text holds each code point as its character, U+FFFD for every value that
  // is not a Unicode scalar value, and the code points are kept exactly.
  [[nodiscard]] static InputText from_code_points(std::vector<uint32_t> code_points);

  [[nodiscard]] const std::string& utf8() const noexcept { return text_; }
  [[nodiscard]] bool is_ascii() const noexcept { return is_ascii_; }
  // False in the surrogate representation.
  [[nodiscard]] bool text_is_utf8() const noexcept { return !surrogate_; }
  [[nodiscard]] uint64_t length() const noexcept { return length_; }

  // Byte offset in utf8() of position `pos`; `pos` == length() gives the
  // size of the text. A larger position is a broken invariant.
  [[nodiscard]] size_t byte_offset(uint64_t pos) const;

  // The code point at `pos` < length(): the ASCII byte, the character of the
  // UTF-8 text, or in the surrogate representation the exact code point (a
  // surrogate keeps its own value, not U+FFFD).
  [[nodiscard]] char32_t code_point(uint64_t pos) const {
    if (is_ascii_ && pos < length_) return static_cast<unsigned char>(text_[pos]);
    return code_point_checked(pos);
  }

  // The position reached by `nbytes` bytes of text starting at position
  // `pos`: pos + nbytes for pure ASCII, otherwise pos plus the number of
  // characters in those bytes. The bytes must end on a character boundary
  // inside the text; anything else is a broken invariant.
  [[nodiscard]] uint64_t position_after(uint64_t pos, size_t nbytes) const {
    if (is_ascii_ && pos <= length_ && nbytes <= length_ - pos) return pos + nbytes;
    return position_after_checked(pos, nbytes);
  }

  // The exact code points of the surrogate representation (empty otherwise).
  [[nodiscard]] std::span<const uint32_t> code_points() const noexcept { return code_points_; }

 private:
  [[nodiscard]] char32_t code_point_checked(uint64_t pos) const;
  [[nodiscard]] uint64_t position_after_checked(uint64_t pos, size_t nbytes) const;
  [[nodiscard]] size_t offset_entry(uint64_t pos) const noexcept {
    return wide_offsets_.empty() ? size_t{offsets_[pos]} : size_t(wide_offsets_[pos]);
  }
  void build_index();

  std::string text_;
  // Byte offset of each position (not kept for pure ASCII). Texts below
  // 4 GiB use 32-bit entries; larger ones use wide_offsets_ instead.
  std::vector<uint32_t> offsets_;
  std::vector<uint64_t> wide_offsets_;
  std::vector<uint32_t> code_points_;
  uint64_t length_ = 0;
  bool is_ascii_ = true;
  bool surrogate_ = false;
};

// Result of skipping a state's ignored characters from a position.
struct IgnoreSkip {
  uint64_t pos;     // first position not ignored, or the input length
  uint64_t lineno;  // line number plus one per skipped line feed
  bool at_end;      // the whole remainder was ignored
};

// Skips, from `pos` < input.length(), every character that occurs in
// `ignore` (a short list, searched linearly), adding one to the line number
// for each skipped line feed. An overflowing line number is an
// OverflowError "line number exceeds the counter range"; nothing is stored
// by this function, so the caller keeps the position and line it had.
[[nodiscard]] Outcome<IgnoreSkip> skip_ignored(const InputText& input, uint64_t pos, uint64_t lineno,
                                               std::span<const uint32_t> ignore);

// True when the bytes of `text` from `byte_pos` begin with `prefix` (false
// when fewer bytes remain than the prefix holds). An empty prefix always fits.
[[nodiscard]] inline bool prefix_fits(std::string_view text, size_t byte_pos, std::string_view prefix) noexcept {
  return byte_pos <= text.size() && text.size() - byte_pos >= prefix.size() &&
         text.compare(byte_pos, prefix.size(), prefix) == 0;
}

}  // namespace vx
