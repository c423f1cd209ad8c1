// The lexer's input text model: the three representations, position <->
// byte offset mapping, and ignore skipping.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/internal_failure.hpp"
#include "common/text.hpp"
#include "lexer/input_text.hpp"

namespace vx {
namespace {

std::vector<size_t> offsets_of(const InputText& in) {
  std::vector<size_t> out;
  for (uint64_t p = 0; p <= in.length(); ++p) out.push_back(in.byte_offset(p));
  return out;
}

std::u32string chars_of(const InputText& in) {
  std::u32string out;
  for (uint64_t p = 0; p < in.length(); ++p) out += in.code_point(p);
  return out;
}

struct RepresentationCase {
  const char* what;
  std::vector<uint32_t> code_points;  // the input string
  bool is_ascii;
  bool text_is_utf8;
  std::string text;                    // expected UTF-8 text
  std::vector<size_t> offsets;         // byte offset of every position, and of the end
};

// Builds the input as the engine does: from the UTF-8 form when the string
// has one, from its code points when it holds surrogates.
InputText install(const std::vector<uint32_t>& cps) {
  bool surrogates = false;
  std::string utf8;
  for (uint32_t c : cps) {
    if (c >= 0xD800 && c <= 0xDFFF) surrogates = true;
    append_utf8(utf8, c);
  }
  return surrogates ? InputText::from_code_points(cps) : InputText::from_utf8(utf8);
}

TEST(InputText, Representations) {
  const RepresentationCase cases[] = {
      {"empty", {}, true, true, "", {0}},
      {"ascii letters", {'a', 'b', 'c'}, true, true, "abc", {0, 1, 2, 3}},
      {"two-byte char", {'a', 0xE9, 'b'}, false, true, "a\xC3\xA9" "b", {0, 1, 3, 4}},
      {"astral char is one position", {'a', 0x1F600, 'b'}, false, true, "a\xF0\x9F\x98\x80" "b", {0, 1, 5, 6}},
      {"lone surrogate", {'a', 0xD800, 'b'}, false, false, "a\xEF\xBF\xBD" "b", {0, 1, 4, 5}},
      {"surrogate pair stays two positions", {0xD83D, 0xDE00}, false, false, "\xEF\xBF\xBD\xEF\xBF\xBD", {0, 3, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    InputText in = install(c.code_points);
    EXPECT_EQ(in.is_ascii(), c.is_ascii);
    EXPECT_EQ(in.text_is_utf8(), c.text_is_utf8);
    EXPECT_EQ(in.utf8(), c.text);
    EXPECT_EQ(in.length(), c.code_points.size());
    EXPECT_EQ(offsets_of(in), c.offsets);
    // The character at a position is the input's own code point, a
    // surrogate included (not the U+FFFD of the text).
    EXPECT_EQ(chars_of(in), std::u32string(c.code_points.begin(), c.code_points.end()));
    if (!c.text_is_utf8) {
      EXPECT_EQ(in.code_points().size(), c.code_points.size());
    }
  }
}

TEST(InputText, AsciiDetectionFindsAHighByteAnywhere) {
  for (size_t len : {1u, 7u, 8u, 9u, 16u, 21u}) {
    EXPECT_TRUE(is_all_ascii(std::string(len, 'x')));
    for (size_t at = 0; at < len; ++at) {
      std::string s(len, 'x');
      s[at] = '\x80';
      EXPECT_FALSE(is_all_ascii(s)) << len << " " << at;
    }
  }
}

TEST(InputText, PositionAfterCountsCharactersOfTheMatchedBytes) {
  // Random mixtures of 1- to 4-byte characters; every (start, end) pair of
  // positions must map back exactly.
  std::mt19937 rng(7);
  const char32_t alphabet[] = {'a', '\n', 0xE9, 0x3B1, 0x20AC, 0xFFFD, 0x1F600, 0x10FFFF};
  for (int round = 0; round < 50; ++round) {
    std::vector<uint32_t> cps;
    const int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) cps.push_back(alphabet[rng() % std::size(alphabet)]);
    if (round % 5 == 0) cps.push_back(0xDC00);  // some in the surrogate representation
    InputText in = install(cps);
    for (uint64_t p = 0; p <= in.length(); ++p)
      for (uint64_t q = p; q <= in.length(); ++q)
        ASSERT_EQ(in.position_after(p, in.byte_offset(q) - in.byte_offset(p)), q);
  }
}

TEST(InputText, BrokenInvariantsPanic) {
  InputText utf8 = InputText::from_utf8("a\xC3\xA9" "b");
  EXPECT_THROW((void)utf8.position_after(1, 1), InternalFailure);  // ends inside U+00E9
  EXPECT_THROW((void)utf8.position_after(0, 5), InternalFailure);  // runs past the end
  EXPECT_THROW((void)utf8.byte_offset(4), InternalFailure);
  EXPECT_THROW((void)utf8.code_point(3), InternalFailure);
  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "\xFF"})
    EXPECT_THROW((void)InputText::from_utf8(bad), InternalFailure) << bad;
}

struct SkipCase {
  const char* what;
  std::vector<uint32_t> input;
  std::vector<uint32_t> ignore;
  uint64_t pos;
  uint64_t lineno;
  IgnoreSkip expected;
};

TEST(IgnoreSkipping, StopsAtTheFirstCharacterNotIgnored) {
  const SkipCase cases[] = {
      {"nothing ignored", {'a', ' '}, {' '}, 0, 1, {0, 1, false}},
      {"spaces and line feeds", {' ', '\n', ' ', '\n', 'x'}, {' ', '\n'}, 0, 5, {4, 7, false}},
      {"carriage return is no new line", {'\r', '\n', 'x'}, {'\r', '\n'}, 0, 1, {2, 2, false}},
      {"line feed not ignored counts nothing", {' ', '\n'}, {' '}, 0, 1, {1, 1, false}},
      {"remainder all ignored", {'x', '\t', '\n'}, {'\t', '\n'}, 1, 3, {3, 4, true}},
      {"non-ASCII ignored", {0xA0, 0x3000, 'x'}, {0x3000, 0xA0}, 0, 1, {2, 1, false}},
      {"surrogate ignored by its own value", {0xD800, 'x'}, {0xD800}, 0, 1, {1, 1, false}},
      {"U+FFFD does not stand for a surrogate", {0xD800, 'x'}, {0xFFFD}, 0, 1, {0, 1, false}},
      {"empty ignore list", {' '}, {}, 0, 1, {0, 1, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = skip_ignored(install(c.input), c.pos, c.lineno, c.ignore);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->pos, c.expected.pos);
    EXPECT_EQ(r->lineno, c.expected.lineno);
    EXPECT_EQ(r->at_end, c.expected.at_end);
  }
}

TEST(IgnoreSkipping, LineNumberOverflowIsAnOverflowError) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  const std::vector<uint32_t> ignore = {' ', '\n'};
  auto ok = skip_ignored(InputText::from_utf8("  x"), 0, max, ignore);
  ASSERT_TRUE(ok.ok());  // no line feed: the largest line number is fine
  auto r = skip_ignored(InputText::from_utf8(" \nx"), 0, max, ignore);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::Overflow);
  EXPECT_EQ(r.error().message, "line number exceeds the counter range");
}

TEST(PrefixFits, ComparesTheBytesAtTheOffset) {
  EXPECT_TRUE(prefix_fits("a+=b", 1, "+="));
  EXPECT_TRUE(prefix_fits("a+=b", 4, ""));
  EXPECT_FALSE(prefix_fits("a+=b", 1, "+=b!"));  // fewer bytes remain than the prefix holds
  EXPECT_FALSE(prefix_fits("a+=b", 0, "+"));
  EXPECT_FALSE(prefix_fits("ab", 3, ""));
}

}  // namespace
}  // namespace vx
