// The native matcher: RE2 compilation, anchored searches in context, the
// group search (candidates one by one and through the set, against the
// member-by-member definition), and the reading of pattern starts.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "lexer/pattern_start.hpp"
#include "lexer/re2_matcher.hpp"

namespace vx {

void PrintTo(const GroupMatch& m, std::ostream* os) { *os << "{member " << m.member << ", end " << m.end << "}"; }

namespace {

using Members = std::vector<std::shared_ptr<const NativeRegex>>;

Members compile_all(const std::vector<std::string>& patterns) {
  Members out;
  for (const auto& p : patterns) {
    auto re = NativeRegex::compile(p);
    EXPECT_TRUE(re) << p;
    out.push_back(re);
  }
  return out;
}

TEST(NativeRegex, RefusedPatternsGiveNothingAndLogNothing) {
  testing::internal::CaptureStderr();
  for (const char* bad : {"(", "a{1001}", "(?<!a)b", "(a)\\1", "[z-a]", "a**", "\\"})
    EXPECT_EQ(NativeRegex::compile(bad), nullptr) << bad;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(NativeRegex::compile("(a)(?:b)(c)"));
}

struct ContextCase {
  const char* pattern;
  const char* text;
  size_t pos;
  std::optional<size_t> end;
};

TEST(NativeRegex, AnchoredSearchSeesTheTextBeforeThePosition) {
  const ContextCase cases[] = {
      {"\\bx", "ax", 1, std::nullopt},    // no boundary between a and x
      {"\\bx", "-x", 1, 2},
      {"\\Bx", "ax", 1, 2},
      {"^x", "ax", 1, std::nullopt},      // ^ is the start of the text, not of the search
      {"\\Ax", "ax", 1, std::nullopt},
      {"(?m:^)x", "\nx", 1, 2},
      {"(?m:^)x", "ax", 1, std::nullopt},
      {"x\\z", "xx", 0, std::nullopt},    // the search runs to the end of the text
      {"x\\z", "xx", 1, 2},
      {"x(?m:$)", "x\ny", 0, 1},
      {"b+", "abbbc", 1, 4},
      {"b+", "abbbc", 0, std::nullopt},   // anchored: no skipping ahead
      {"a*", "bbb", 1, 1},                // empty match
      {"\\x{E9}+", "a\xC3\xA9\xC3\xA9", 1, 5},
  };
  for (const auto& c : cases) {
    auto re = NativeRegex::compile(c.pattern);
    ASSERT_TRUE(re) << c.pattern;
    EXPECT_EQ(re->match_end(c.text, c.pos), c.end) << c.pattern << " on " << c.text << " at " << c.pos;
    EXPECT_EQ(re->matches_at(c.text, c.pos), c.end.has_value()) << c.pattern;
  }
}

struct GroupCase {
  std::vector<std::string> patterns;
  const char* text;
  size_t pos;
  std::optional<GroupMatch> expected;
};

void expect_all_searches(const NativeGroup& g, const std::string& text, size_t pos,
                         const std::optional<GroupMatch>& expected, const std::string& what) {
  EXPECT_EQ(g.match(text, pos), expected) << what;
  EXPECT_EQ(g.match_through_set(text, pos), expected) << what;
  EXPECT_EQ(g.match_one_by_one(text, pos), expected) << what;
}

TEST(NativeGroup, FirstMatchingMemberWinsWithItsOwnSpan) {
  const std::string ident = "[A-Za-z_][A-Za-z0-9_]*";
  const GroupCase cases[] = {
      // first match, not longest
      {{"a", "ab"}, "abc", 0, GroupMatch{0, 1}},
      {{"ab", "a"}, "abc", 0, GroupMatch{0, 2}},
      {{"if\\b", "int\\b", ident}, "int x", 0, GroupMatch{1, 3}},
      {{"if\\b", "int\\b", ident}, "in x", 0, GroupMatch{2, 2}},
      {{"if\\b", "int\\b", ident}, "iffy", 0, GroupMatch{2, 4}},
      {{"if\\b", "int\\b", ident}, "x if", 2, GroupMatch{0, 4}},
      {{"if\\b", "int\\b", ident}, "+", 0, std::nullopt},
      // members with capture groups of their own
      {{"(a)(b)?", "(x)|(y)", "(((z)))"}, "zz", 0, GroupMatch{2, 1}},
      {{"(a)(b)?", "(x)|(y)", "(((z)))"}, "yb", 0, GroupMatch{1, 1}},
      {{"(a)(b)?", "(x)|(y)", "(((z)))"}, "ab", 0, GroupMatch{0, 2}},
      // a member that matches empty wins wherever it is first to match
      {{"x", "y*", "z"}, "z", 0, GroupMatch{1, 0}},
      {{"x", "y*", "z"}, "x", 0, GroupMatch{0, 1}},
      {{"x", "y*"}, "ab", 2, GroupMatch{1, 2}},   // at the end of the text
      {{"x", "y"}, "ab", 2, std::nullopt},
      // context before the position
      {{"\\bfoo", "o+"}, "xfoo", 1, std::nullopt},
      {{"\\bfoo", "fo"}, "xfoo", 1, GroupMatch{1, 3}},
      {{"(?m:^)#", "#+"}, "\n##", 1, GroupMatch{0, 2}},
      {{"^#", "#+"}, "\n##", 1, GroupMatch{1, 3}},
      // case folding and non-ASCII
      {{"(?i)select", ident}, "SeLeCt *", 0, GroupMatch{0, 6}},
      {{"(?i)k", "\\x{212A}"}, "\xE2\x84\xAA", 0, GroupMatch{0, 3}},   // RE2 folds k to the Kelvin sign
      {{"[Kk\\x{D800}]", "\\x{130}", "\\z"}, "\xE2\x84\xAA", 0, std::nullopt},  // a nullable member that does not match
      {{"[^a]", "a"}, "\xC3\xA9", 0, GroupMatch{0, 2}},
      {{"\\x{E9}", "."}, "a\xC3\xA9", 1, GroupMatch{0, 3}},
      // the same pattern twice: the first copy wins
      {{"a+", "a+"}, "aa", 0, GroupMatch{0, 2}},
      // lazy and greedy
      {{"a+?", "a+"}, "aaa", 0, GroupMatch{0, 1}},
      {{"\"(?:[^\"\\\\]|\\\\.)*\"", ident}, "\"a\\\"b\" c", 0, GroupMatch{0, 6}},
  };
  for (const auto& c : cases) {
    auto g = NativeGroup::compile(compile_all(c.patterns));
    ASSERT_TRUE(g);
    std::string what = c.text + std::string(" at ") + std::to_string(c.pos) + " with " + c.patterns[0];
    expect_all_searches(*g, c.text, c.pos, c.expected, what);
  }
}

TEST(NativeGroup, SingleMemberUsesItsOwnExpression) {
  auto re = NativeRegex::compile("[0-9]+");
  auto g = NativeGroup::single(re);
  ASSERT_EQ(g->size(), 1u);
  EXPECT_EQ(g->members()[0], re);
  expect_all_searches(*g, "x123", 1, GroupMatch{0, 4}, "digits");
  expect_all_searches(*g, "x123", 0, std::nullopt, "letter");
}

TEST(NativeGroup, MemberThatReadsDifferentlyInTheSetIsRefused) {
  // Each compiles alone, but behind the set's "(?s:.)(?:" the unterminated
  // \Q swallows the closing parenthesis.
  auto members = compile_all({"\\Qab", "x"});
  EXPECT_EQ(NativeGroup::compile(members), nullptr);
  EXPECT_EQ(NativeGroup::compile(compile_all({"a", "b"}))->size(), 2u);
}

// Random small patterns over a tiny alphabet, searched as groups of two to
// five members at every position of random texts: the search, the set's way
// and the member-by-member definition must agree.
class PatternGen {
 public:
  explicit PatternGen(uint32_t seed) : rng_(seed) {}

  std::string pattern(int depth = 0) {
    std::string out;
    int n = 1 + pick(3);
    for (int k = 0; k < n; ++k) out += piece(depth);
    if (depth < 2 && pick(4) == 0) out += "|" + pattern(depth + 1);
    return out;
  }

  std::string text() {
    static const char* const chars[] = {"a", "b", "A", " ", "\n", "_", "1", "\xC3\xA9", "\xE2\x84\xAA", "-", "k", "s",
                                       "\xC5\xBF"};
    std::string out;
    int n = pick(9);
    for (int k = 0; k < n; ++k) out += chars[pick(static_cast<int>(std::size(chars)))];
    return out;
  }

  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

 private:
  std::string atom(int depth) {
    static const char* const atoms[] = {
        "a", "b", "A", " ", "\\n", "_", "1", "\\x{E9}", "\xC3\xA9", "-", "\\-", ".", "(?s:.)", "[ab]", "[^a]",
        "[a-c1]", "[^\\n]", "\\w", "\\W", "\\d", "\\s", "\\b", "\\B", "^", "$", "(?m:^)", "(?m:$)", "\\A", "\\z",
        "(?i:a)", "(?i:[a-b])", "(?i)b", "(?i:k)", "(?i:[r-t])", "[\\x{E9}-\\x{FF}]", "\\x{212A}", "(?i:\\x{212A})", "\\pL", "\\Qa-\\E",
    };
    if (depth < 2 && pick(6) == 0) {
      static const char* const opens[] = {"(", "(?:", "(?P<n>"};
      return std::string(opens[pick(3)]) + pattern(depth + 1) + ")";
    }
    return atoms[pick(static_cast<int>(std::size(atoms)))];
  }

  std::string piece(int depth) {
    static const char* const quants[] = {"", "", "", "*", "+", "?", "*?", "+?", "??", "{2}", "{0,2}", "{1,}"};
    return atom(depth) + quants[pick(static_cast<int>(std::size(quants)))];
  }

  std::mt19937 rng_;
};

TEST(NativeGroup, MembersWithSharedLiteralPrefixesAgreeWithTheDefinition) {
  // Keywords that are prefixes of one another and of identifiers, beside
  // members without a literal prefix: few and many candidates at a position.
  const std::vector<std::string> patterns = {
      "do\\b", "double\\b", "d\\b", "dou", "ifdef", "if\\b", "i", "[A-Za-z_][A-Za-z0-9_]*",
      "[0-9]+", "do[a-z]", "(?i)dO", "doub", "doubl", "double"};
  const std::string text = "do double dou doubles doubled ifdef if i d x9 DO 12 dox iff";
  for (size_t count : {size_t{3}, size_t{6}, patterns.size()}) {
    auto g = NativeGroup::compile(compile_all({patterns.begin(), patterns.begin() + static_cast<std::ptrdiff_t>(count)}));
    ASSERT_TRUE(g);
    for (size_t pos = 0; pos <= text.size(); ++pos) {
      const std::string what = std::to_string(count) + " members at " + std::to_string(pos);
      expect_all_searches(*g, text, pos, g->match_one_by_one(text, pos), what);
    }
  }
}

bool is_char_start(const std::string& s, size_t i) {
  return i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
}

TEST(NativeGroup, SearchAgreesWithTheDefinitionOnRandomPatterns) {
  PatternGen gen(2024);
  int compared = 0;
  for (int round = 0; round < 1500; ++round) {
    Members members;
    std::vector<std::string> patterns;
    int n = 2 + gen.pick(6);
    while (static_cast<int>(members.size()) < n) {
      std::string p = gen.pattern();
      if (auto re = NativeRegex::compile(p)) {
        members.push_back(re);
        patterns.push_back(p);
      }
    }
    auto g = NativeGroup::compile(members);
    ASSERT_TRUE(g);
    for (int t = 0; t < 6; ++t) {
      std::string text = gen.text();
      for (size_t pos = 0; pos <= text.size(); ++pos) {
        if (!is_char_start(text, pos)) continue;
        auto reference = g->match_one_by_one(text, pos);
        std::string what;
        for (const auto& p : patterns) what += "(" + p + ") ";
        what += "on \"" + text + "\" at " + std::to_string(pos);
        ASSERT_EQ(g->match_through_set(text, pos), reference) << what;
        ASSERT_EQ(g->match(text, pos), reference) << what;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 20000);
}

struct StartCase {
  const char* pattern;
  const char* may_begin;   // ASCII bytes that must be in the first-byte set
  const char* cannot;      // ASCII bytes that must not be
  bool high_bytes;         // whether bytes 0x80..0xFF are in the set
  bool nullable;
  const char* prefix;
};

TEST(PatternStart, ReadsFirstBytesNullabilityAndPrefix) {
  const StartCase cases[] = {
      {"abc", "a", "bcA", false, false, "abc"},
      {"\\bif\\b", "i", "f", false, false, "if"},
      {"\\+=", "+", "=", false, false, "+="},
      {"\\x{41}\\x{2B}b*", "A", "+b", false, false, "A+"},
      {"[A-Za-z_][A-Za-z0-9_]*", "AZaz_", "09 ", false, false, ""},
      {"[0-9]+(?:\\.[0-9]*)?", "09", ".a", false, false, ""},
      {"a*b", "ab", "c", false, false, ""},
      {"a*b*", "ab", "", false, true, ""},
      {"ab|ac", "a", "bc", false, false, ""},
      {"(?:ab)c", "a", "bc", false, false, ""},
      {"(?P<n>x)y", "x", "y", false, false, ""},
      {"(?i)ab", "aA", "bB", true, false, ""},
      {"(?i)\\+", "+", "a", false, false, "+"},
      {"a(?i)b", "a", "bB", false, false, "a"},
      {"(?i:a)b", "aA", "b", true, false, ""},
      {"[^a]", "b\n", "a", true, false, ""},
      {"\\W", " -", "a0_", true, false, ""},
      {".", "a", "\n", true, false, ""},
      {"(?s).", "a\n", "", true, false, ""},
      {"\\x{E9}x", "", "ax", true, false, "\xC3\xA9x"},
      {"^", "", "a", false, true, ""},
      {"", "", "a", false, true, ""},
      {"x{0}y", "xy", "", false, false, ""},
      {"\\s", " \t\n\f\r", "\va", false, false, ""},
      {"[]a]", "]a", "b", false, false, ""},
      {"[a-]", "a-", "b", false, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    PatternStart st = analyze_pattern_start(c.pattern);
    ASSERT_TRUE(st.understood);
    for (const char* b = c.may_begin; *b; ++b) EXPECT_TRUE(st.first_bytes[static_cast<unsigned char>(*b)]) << *b;
    for (const char* b = c.cannot; *b; ++b) EXPECT_FALSE(st.first_bytes[static_cast<unsigned char>(*b)]) << *b;
    bool any_high = false;
    for (unsigned b = 0x80; b < 256; ++b) any_high = any_high || st.first_bytes[b];
    EXPECT_EQ(any_high, c.high_bytes);
    EXPECT_EQ(st.nullable, c.nullable);
    EXPECT_EQ(st.prefix, c.prefix);
  }
}

TEST(PatternStart, KnowsWhetherAnAssertionMayReadTheTextBeforeAMatch) {
  const std::pair<const char*, bool> cases[] = {
      {"if\\b", false}, {"\\bif", true},   {"^#", true},         {"(?m:^)#", true},   {"\\Ax", true},
      {"x\\z", false},  {"x$", false},      {"$", false},         {"a*\\bb", true},   {"a\\b|\\bb", true},
      {"(?:\\b)?x", true}, {"x(?:\\b)", false}, {"[a-z]+\\b", false}, {"(?:a|^)b", true}, {"\\pL", true},
  };
  for (const auto& [pattern, behind] : cases) EXPECT_EQ(analyze_pattern_start(pattern).looks_behind, behind) << pattern;
}

TEST(PatternStart, GivesUpOnWhatItDoesNotRead) {
  for (const char* p : {"\\pL", "[[:alpha:]]", "\\Qab\\E", "\\C", "a{,2}", "\\1", "(?=a)"}) {
    PatternStart st = analyze_pattern_start(p);
    EXPECT_FALSE(st.understood) << p;
    EXPECT_TRUE(st.nullable) << p;
    EXPECT_TRUE(st.looks_behind) << p;
    EXPECT_TRUE(st.first_bytes.all()) << p;
    EXPECT_EQ(st.prefix, "") << p;
  }
}

}  // namespace
}  // namespace vx
