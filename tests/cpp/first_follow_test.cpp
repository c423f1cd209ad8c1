// FIRST and FOLLOW sets and their caches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/internal_failure.hpp"
#include "grammar/grammar.hpp"
#include "grammar_dsl.hpp"
#include "lr_table/lr_table.hpp"

namespace vx {
namespace {

using testing::GrammarSpec;
using testing::make_grammar;
using testing::set_of;

struct SetCase {
  const char* rules;  // the first rule is the start symbol
  const char* symbol;
  const char* first;
  const char* follow;
};

// "<e>" is the empty-sequence marker; "<none>" means no entry for the name.
const SetCase kSetCases[] = {
    // The worked example of the LR(0) construction.
    {"E : E PLUS T | T ; T : ID", "E", "ID", "$end PLUS"},
    {"E : E PLUS T | T ; T : ID", "T", "ID", "$end PLUS"},
    {"E : E PLUS T | T ; T : ID", "S'", "", "$end"},
    {"E : E PLUS T | T ; T : ID", "PLUS", "PLUS", "<none>"},
    {"E : E PLUS T | T ; T : ID", "$end", "$end", "<none>"},
    {"E : E PLUS T | T ; T : ID", "error", "error", "<none>"},
    // Nullable chains.
    {"S : A B 'c' ; A : | 'a' ; B : A A | 'b'", "A", "<e> a", "a b c"},
    {"S : A B 'c' ; A : | 'a' ; B : A A | 'b'", "B", "<e> a b", "c"},
    {"S : A B 'c' ; A : | 'a' ; B : A A | 'b'", "S", "a b c", "$end"},
    {"S : A B ; A : B ; B :", "S", "<e>", "$end"},
    {"S : A B ; A : B ; B :", "A", "<e>", "$end"},
    {"S : A B ; A : B ; B :", "B", "<e>", "$end"},
    {"A : B 'c' ; B : | 'b'", "A", "b c", "$end"},
    // Undefined symbols stand for themselves but get no entry.
    {"S : A u ; A : 'x'", "S", "x", "$end"},
    {"S : A u ; A : 'x'", "A", "x", "u"},
    {"S : A u ; A : 'x'", "u", "<none>", "<none>"},
    {"S : u S | 'x'", "S", "u x", "$end"},
    // Left and mutual recursion.
    {"S : A ; A : A 'x'", "A", "", "$end x"},
    {"S : A ; A : A 'x'", "S", "", "$end"},
    {"S : A ; A : B 'a' | 'c' ; B : A 'b' |", "A", "a c", "$end b"},
    {"S : A ; A : B 'a' | 'c' ; B : A 'b' |", "B", "<e> a c", "a"},
    // A rule in no right-hand side.
    {"S : 'x' ; U : 'y'", "U", "y", ""},
    // A name that is both a terminal and a rule name counts as a rule.
    {"expr : 'n' ; S : 'expr' expr", "expr", "n", "$end n"},
    {"expr : 'n' ; S : 'expr' expr", "S", "n", ""},
    // The empty text is the marker, also as a terminal.
    {"S : '' 'x'", "S", "x", "$end"},
    {"S : '' 'x'", "", "<e>", "<none>"},
};

TEST(FirstFollow, Table) {
  for (const auto& c : kSetCases) {
    Grammar g = make_grammar(GrammarSpec{{"PLUS", "ID"}, c.rules, {}, std::nullopt});
    g.compute_follow();
    EXPECT_EQ(set_of(g, g.first(), c.symbol), c.first) << c.rules << " / " << c.symbol;
    EXPECT_EQ(set_of(g, g.follow(), c.symbol), c.follow) << c.rules << " / " << c.symbol;
    // The marker never reaches a FOLLOW set.
    for (size_t e = 0; e < g.follow().size(); ++e) EXPECT_FALSE(g.follow().contains(e, kEmptySymbol)) << c.rules;
  }
}

TEST(FirstFollow, CacheKeysAreTerminalsAndRuleNames) {
  Grammar g = make_grammar(GrammarSpec{{"PLUS", "ID", "UNUSED"}, "E : E PLUS T | T ; T : ID | u", {}, std::nullopt});
  const auto& first = g.compute_first();
  std::vector<std::string> keys;
  for (size_t i = 0; i < first.size(); ++i) keys.push_back(g.name(first.key(i)));
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"$end", "E", "ID", "PLUS", "S'", "T", "UNUSED", "error"}));
  const auto& follow = g.compute_follow();
  keys.clear();
  for (size_t i = 0; i < follow.size(); ++i) keys.push_back(g.name(follow.key(i)));
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"E", "S'", "T"}));
}

TEST(FirstFollow, SequenceFirst) {
  Grammar g = make_grammar(GrammarSpec{{}, "S : A 'x' ; A : A 'x' ; N : | 'n'", {}, std::nullopt});
  const auto& first = g.compute_first();
  auto seq = [&](std::initializer_list<const char*> names) {
    std::vector<SymbolId> ids;
    for (const char* n : names) ids.push_back(*g.find_symbol(n));
    auto out = g.sequence_first(ids, first);
    std::string s;
    for (SymbolId m : out) s += (s.empty() ? "" : " ") + (m == kEmptySymbol ? std::string("<e>") : g.name(m));
    return s;
  };
  EXPECT_EQ(seq({}), "<e>");
  EXPECT_EQ(seq({"A", "x"}), "");  // A derives nothing finite: empty, no marker
  EXPECT_EQ(seq({"N"}), "<e> n");
  EXPECT_EQ(seq({"N", "N", "x"}), "x n");  // id order: x was interned before n
  EXPECT_EQ(seq({"S", "N"}), "");
}

TEST(FirstFollow, SecondStartProductionContributesToFirst) {
  Grammar g;
  testing::add_rules(g, "E : 'id'");
  ASSERT_TRUE(g.set_start().ok());
  ASSERT_TRUE(g.set_start().ok());  // 0: S' -> S', 1: S' -> E
  g.compute_follow();
  EXPECT_EQ(set_of(g, g.first(), "S'"), "id");
  EXPECT_EQ(set_of(g, g.follow(), "S'"), "$end");
  EXPECT_EQ(set_of(g, g.follow(), "E"), "$end");
}

TEST(FirstFollow, BuildWithoutStartPanicsAndKeepsFirst) {
  Grammar g;
  testing::add_rules(g, "A : B 'x' ; B : 'b' ; A : 'a'");
  EXPECT_THROW((void)LRTable::build(g), InternalFailure);
  // FIRST was filled over the grammar of that moment, production 0 (the
  // first rule added) left out; FOLLOW stays empty.
  EXPECT_EQ(set_of(g, g.first(), "A"), "a");
  EXPECT_EQ(set_of(g, g.first(), "B"), "b");
  EXPECT_EQ(set_of(g, g.first(), "S'"), "<none>");
  EXPECT_TRUE(g.follow().empty());
  EXPECT_THROW((void)LRTable::build(g), InternalFailure);  // still usable, still refused

  ASSERT_TRUE(g.set_start().ok());
  const LRTable t = LRTable::build(g);
  EXPECT_GT(t.num_states(), 1u);
  // The cached FIRST is reused as it is: no key for "S'" ...
  EXPECT_EQ(set_of(g, g.first(), "S'"), "<none>");
  EXPECT_EQ(set_of(g, g.first(), "A"), "a");
  // ... and FOLLOW is computed from it.
  EXPECT_EQ(set_of(g, g.follow(), "S'"), "$end");
  EXPECT_EQ(set_of(g, g.follow(), "A"), "$end");
  EXPECT_EQ(set_of(g, g.follow(), "B"), "x");
}

TEST(FirstFollow, RuleNamedSPrimePassesWithoutStart) {
  Grammar g;
  testing::add_rules(g, "A : 'x' ; S' : A");
  const LRTable t = LRTable::build(g);
  EXPECT_EQ(g.start(), std::nullopt);
  EXPECT_EQ(set_of(g, g.follow(), "S'"), "$end");
  EXPECT_GT(t.num_states(), 0u);
}

TEST(FirstFollow, CachesKeepTheirFirstBuild) {
  Grammar g = make_grammar(GrammarSpec{{}, "S : 'a' T ; T : 'b'", {}, std::nullopt});
  const LRTable before = LRTable::build(g);
  const std::string first_s = set_of(g, g.first(), "S"), follow_t = set_of(g, g.follow(), "T");
  testing::add_rules(g, "S : 'c' ; T : S 'd' ; U : 'u'");
  const LRTable after = LRTable::build(g);
  EXPECT_EQ(set_of(g, g.first(), "S"), first_s);
  EXPECT_EQ(set_of(g, g.follow(), "T"), follow_t);
  EXPECT_EQ(set_of(g, g.first(), "U"), "<none>");
  // The new table does contain the new productions.
  EXPECT_GT(after.num_states(), before.num_states());
  bool has_3 = false, has_4 = false;
  for (size_t s = 0; s < after.num_states(); ++s) {
    for (const auto& it : after.state(s)) {
      has_3 |= it.production == 3;
      has_4 |= it.production == 4;
    }
  }
  EXPECT_TRUE(has_3 && has_4);
}

}  // namespace
}  // namespace vx
