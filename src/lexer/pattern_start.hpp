// What an RE2 pattern can begin with: a conservative reading of the pattern
// text that the native group search uses to rule members out cheaply.
//
// The reading understands the syntax our translator writes and the common
// rest of RE2's syntax; anything else makes it give up, which is always
// safe: a pattern read as "may begin with any byte, may match empty" is
// never ruled out.
#pragma once

#include <bitset>
#include <string>
#include <string_view>

namespace vx {

struct PatternStart {
  // Every non-empty match begins with a byte in this set (a superset: it may
  // hold bytes no match begins with, never the other way round).
  std::bitset<256> first_bytes;
  // The pattern may match the empty string at some position.
  bool nullable = true;
  // Every match begins with these bytes (possibly empty).
  std::string prefix;
  // An assertion that reads the text before the match (^, \A, \b, \B) may
  // apply at the start of a match.
  bool looks_behind = true;
  // False when the reading gave up (then first_bytes is full, nullable and
  // looks_behind set).
  bool understood = false;

  // Whether a match may start at a position whose next byte is `b`.
  [[nodiscard]] bool may_start_with(unsigned char b) const noexcept { return nullable || first_bytes[b]; }
};

// Reads a pattern that RE2 accepted with its default options (UTF-8, Perl
// classes, word boundaries; case-insensitive, multi-line and dot-all only
// through inline flags).
[[nodiscard]] PatternStart analyze_pattern_start(std::string_view re2_pattern);

}  // namespace vx
