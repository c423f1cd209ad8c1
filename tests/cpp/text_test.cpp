#include <gtest/gtest.h>

#include "common/text.hpp"

namespace {

struct QuoteCase {
  const char* input;
  const char* expected;
};

TEST(QuoteName, Escapes) {
  const QuoteCase cases[] = {
      {"NUMBER", "\"NUMBER\""},
      {"a\"b", "\"a\\\"b\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"it's", "\"it's\""},
      {"t\tr\rn\n", "\"t\\tr\\rn\\n\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},        // printable non-ASCII stays
      {"e\xCC\x81", "\"e\\u{301}\""},           // combining mark
      {"\x7F", "\"\\u{7f}\""},                  // control character
      {"\xC2\xA0", "\"\\u{a0}\""},              // no-break space is not printable
      {"\xE2\x80\x8C", "\"\\u{200c}\""},        // zero-width non-joiner extends graphemes
  };
  for (const auto& c : cases) EXPECT_EQ(vx::quote_name(c.input), c.expected) << c.input;
  EXPECT_EQ(vx::quote_name(std::string_view("a\0b", 3)), "\"a\\0b\"");
}

TEST(QuoteChar, Escapes) {
  EXPECT_EQ(vx::quote_char(U'$'), "'$'");
  EXPECT_EQ(vx::quote_char(U'\n'), "'\\n'");
  EXPECT_EQ(vx::quote_char(U'\''), "'\\''");
  EXPECT_EQ(vx::quote_char(U'"'), "'\"'");
  EXPECT_EQ(vx::quote_char(0x301), "'\\u{301}'");
  EXPECT_EQ(vx::quote_char(0xD800), "'\\ud800'");
  EXPECT_EQ(vx::quote_char(0x1F600), "'\xF0\x9F\x98\x80'");
}

}  // namespace
