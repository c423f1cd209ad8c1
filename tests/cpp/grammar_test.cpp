// The grammar model: terminals, productions and their numbers, precedence
// groups, the start symbol, and every refusal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grammar/grammar.hpp"
#include "grammar_dsl.hpp"

namespace vx {
namespace {

using testing::add_rules;
using Strings = std::vector<std::string>;

std::string refusal(const Outcome<uint64_t>& r) { return r.ok() ? "<accepted>" : r.error().message; }
std::string refusal(const Status& r) { return r.ok() ? "<accepted>" : r.error().message; }

std::string sorted_terminals(const Grammar& g) {
  auto t = g.terminal_names();
  std::sort(t.begin(), t.end());
  std::string out;
  for (const auto& s : t) out += (out.empty() ? "" : " ") + s;
  return out;
}

TEST(GrammarModel, NewGrammarHasReservedTerminals) {
  EXPECT_EQ(sorted_terminals(Grammar()), "$end error");
  const Strings given = {"PLUS", "error", "ID", "PLUS", "$end"};
  Grammar g(given);
  EXPECT_EQ(sorted_terminals(g), "$end ID PLUS error");
  EXPECT_TRUE(g.nonterminal_names().empty());
  EXPECT_EQ(g.num_productions(), 0u);
  EXPECT_EQ(g.start(), std::nullopt);
  EXPECT_TRUE(g.first().empty());
  EXPECT_TRUE(g.follow().empty());
}

TEST(GrammarModel, RuleNamedLikeATerminalIsRefused) {
  const Strings given = {"ID"};
  Grammar g(given);
  const Strings rhs = {"x"};
  for (const char* name : {"error", "$end", "ID"}) {
    EXPECT_EQ(refusal(g.add_production(name, rhs)),
              std::string("Rule name \"") + name + "\" conflicts with terminal symbol");
  }
  EXPECT_EQ(g.num_productions(), 0u);
  EXPECT_FALSE(g.is_nonterminal("ID"));
  EXPECT_FALSE(g.find_symbol("x").has_value());  // refused edits leave no trace
  EXPECT_EQ(g.add_production("A", rhs).value(), 0u);  // no number was consumed
  // The name is quoted with escapes.
  const Strings lit = {"'a\"b'"};
  ASSERT_TRUE(g.add_production("B", lit).ok());
  EXPECT_EQ(refusal(g.add_production("a\"b", rhs)), "Rule name \"a\\\"b\" conflicts with terminal symbol");
}

TEST(GrammarModel, RuleNameMayLaterBecomeATerminal) {
  Grammar g;
  add_rules(g, "expr : x ; stmt : 'expr' ';'");
  EXPECT_TRUE(g.is_terminal("expr"));
  EXPECT_TRUE(g.is_nonterminal("expr"));
  EXPECT_TRUE(g.is_terminal(";"));
  const Strings rhs = {"y"};
  EXPECT_EQ(refusal(g.add_production("expr", rhs)), "Rule name \"expr\" conflicts with terminal symbol");
  EXPECT_EQ(g.num_productions(), 2u);
}

TEST(GrammarModel, QuotedSymbols) {
  struct Case {
    const char* text;
    bool quoted;
    const char* stripped;
  };
  const Case cases[] = {
      {"\"+\"", true, "+"},         {"'+'", true, "+"},
      {"'\"+\"'", true, "\"+\""},   {"\"\"", true, ""},
      {"''", true, ""},             {"'", false, "'"},
      {"\"", false, "\""},          {"'a\"", false, "'a\""},
      {"a'b'c", false, "a'b'c"},    {"", false, ""},
      {"'ab'", true, "ab"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_quoted_symbol(c.text), c.quoted) << c.text;
    EXPECT_EQ(strip_quotes(c.text), c.stripped) << c.text;
  }
  // Literals become terminals under their stripped text; others stay as given.
  Grammar g;
  const Strings rhs = {"'\"+\"'", "\"\"", "'a\"", "plain"};
  ASSERT_TRUE(g.add_production("R", rhs).ok());
  EXPECT_EQ(testing::names(g, g.production(0).syms), "\"+\"  'a\" plain");
  EXPECT_TRUE(g.is_terminal("\"+\""));
  EXPECT_TRUE(g.is_terminal(""));
  EXPECT_FALSE(g.is_terminal("'a\""));
  EXPECT_FALSE(g.is_terminal("plain"));
}

TEST(GrammarModel, DefaultPrecedenceComesFromRightmostTerminal) {
  const Strings given = {"plus", "minus", "times", "open", "close", "ID"};
  Grammar g(given);
  const PrecedenceGroup groups[] = {{"left", {"plus", "minus"}}, {"left", {"times"}}, {"right", {"'^'", "uminus"}}};
  ASSERT_TRUE(g.set_precedence(groups).ok());
  add_rules(g,
            "E : E plus E | E times E | open E close | E '^' E | minus E %prec uminus"
            " | E plus E close | E F | | ID F ;"
            " F : E E");
  const PrecPair expected[] = {
      {"left", 1}, {"left", 2}, {"right", 0},  // only the rightmost terminal is looked at
      {"right", 3}, {"right", 3},              // quoted group name; named precedence
      {"right", 0},                            // close has no entry: the walk stops there
      {"right", 0}, {"right", 0},              // no terminal; empty right-hand side
      {"right", 0},                            // ID has no entry; F is not a terminal
      {"right", 0},
  };
  ASSERT_EQ(g.num_productions(), std::size(expected));
  for (size_t p = 0; p < std::size(expected); ++p) EXPECT_EQ(g.production(p).prec, expected[p]) << p;
  EXPECT_TRUE(g.is_terminal("^"));
  EXPECT_FALSE(g.is_terminal("uminus"));
}

TEST(GrammarModel, UnquotedGroupNameIsNoTerminal) {
  Grammar g;
  const PrecedenceGroup groups[] = {{"left", {"op"}}};
  ASSERT_TRUE(g.set_precedence(groups).ok());
  EXPECT_FALSE(g.is_terminal("op"));
  ASSERT_NE(g.precedence_of("op"), nullptr);
  // The default walk passes over op (no terminal) and finds nothing.
  add_rules(g, "E : E op E");
  EXPECT_EQ(g.production(0).prec, (PrecPair{"right", 0}));
  // Once op is a terminal by a quoted use, later productions see its entry.
  add_rules(g, "E : 'op' ; E : E op E");
  EXPECT_EQ(g.production(2).prec, (PrecPair{"left", 1}));
  EXPECT_EQ(g.production(0).prec, (PrecPair{"right", 0}));  // fixed when added
}

TEST(GrammarModel, NamedAndExplicitPrecedence) {
  Grammar g;
  const PrecedenceGroup groups[] = {{"nonassoc", {"'<'"}}, {"right", {"NEG"}}};
  ASSERT_TRUE(g.set_precedence(groups).ok());
  const Strings rhs = {"a"};
  ASSERT_TRUE(g.add_production("A", rhs, 7, std::string_view("'<'")).ok());
  EXPECT_EQ(g.production(0).prec, (PrecPair{"nonassoc", 1}));
  EXPECT_EQ(g.production(0).line, 7u);
  ASSERT_TRUE(g.add_production("A", rhs, 0, std::string_view("NEG")).ok());  // found though no terminal
  EXPECT_EQ(g.production(1).prec, (PrecPair{"right", 2}));
  // Unknown names are reported without their quotes and consume no number.
  EXPECT_EQ(refusal(g.add_production("A", rhs, 0, std::string_view("'>'"))),
            "Precedence specified for unknown symbol \">\"");
  EXPECT_EQ(refusal(g.add_production("A", rhs, 0, std::string_view("GT"))),
            "Precedence specified for unknown symbol \"GT\"");
  EXPECT_EQ(g.num_productions(), 2u);
  // An explicit pair is taken as given, associativity text and level alike.
  EXPECT_EQ(g.add_production_with_prec("A", rhs, 0, PrecPair{"sideways", INT32_MIN}).value(), 2u);
  EXPECT_EQ(g.production(2).prec, (PrecPair{"sideways", INT32_MIN}));
}

TEST(GrammarModel, PrecedenceGroups) {
  Grammar g;
  const PrecedenceGroup first[] = {{"left", {"a"}}, {"left", {}}, {"nonassoc", {"b", "a"}}, {"right", {"c"}}};
  ASSERT_TRUE(g.set_precedence(first).ok());
  EXPECT_EQ(*g.precedence_of("a"), (PrecPair{"nonassoc", 3}));  // replaced within the call
  EXPECT_EQ(*g.precedence_of("b"), (PrecPair{"nonassoc", 3}));  // the empty group took level 2
  EXPECT_EQ(*g.precedence_of("c"), (PrecPair{"right", 4}));

  // A later call numbers from 1 again and keeps names it does not mention.
  const PrecedenceGroup second[] = {{"right", {"b"}}};
  ASSERT_TRUE(g.set_precedence(second).ok());
  EXPECT_EQ(*g.precedence_of("b"), (PrecPair{"right", 1}));
  EXPECT_EQ(*g.precedence_of("c"), (PrecPair{"right", 4}));

  // A bad associativity stops at its group; earlier groups stay entered.
  for (const char* bad : {"Left", "lefty", "", "nonassociative"}) {
    Grammar h;
    const PrecedenceGroup groups[] = {{"left", {"x"}}, {"right", {"y"}}, {bad, {"z"}}, {"left", {"w"}}};
    EXPECT_EQ(refusal(h.set_precedence(groups)), std::string("Invalid associativity \"") + bad + "\"");
    EXPECT_EQ(*h.precedence_of("x"), (PrecPair{"left", 1}));
    EXPECT_EQ(*h.precedence_of("y"), (PrecPair{"right", 2}));
    EXPECT_EQ(h.precedence_of("z"), nullptr);
    EXPECT_EQ(h.precedence_of("w"), nullptr);
  }
}

TEST(GrammarModel, StartSymbolRefusals) {
  Grammar g;
  EXPECT_EQ(refusal(g.set_start()), "Cannot determine start symbol: No productions defined");
  EXPECT_EQ(refusal(g.set_start(std::string_view("S"))), "Start symbol \"S\" is not a valid nonterminal");
  add_rules(g, "S : 'x' y");
  for (const char* bad : {"x", "y", "$end", "s", "S'"}) {
    EXPECT_EQ(refusal(g.set_start(std::string_view(bad))),
              std::string("Start symbol \"") + bad + "\" is not a valid nonterminal");
  }
  EXPECT_EQ(g.num_productions(), 1u);
  EXPECT_EQ(g.start(), std::nullopt);
  EXPECT_FALSE(g.is_nonterminal("S'"));
}

TEST(GrammarModel, NumberingAroundSetStart) {
  Grammar g;
  const Strings a = {"B", "x"}, b = {"y"};
  EXPECT_EQ(g.add_production("A", a).value(), 0u);
  EXPECT_EQ(g.add_production("B", b).value(), 1u);
  ASSERT_TRUE(g.set_start().ok());
  EXPECT_EQ(g.name(*g.start()), "A");
  EXPECT_EQ(g.production_text(0), "S' -> A");
  EXPECT_EQ(g.production_text(1), "A -> B x");
  EXPECT_EQ(g.production_text(2), "B -> y");
  EXPECT_EQ(g.production(0).line, 0u);
  EXPECT_EQ(g.production(0).prec, PrecPair{});
  EXPECT_TRUE(g.is_nonterminal("S'"));
  EXPECT_EQ(g.add_production("B", a).value(), 3u);
  const std::vector<uint32_t> of_b = {2, 3};
  EXPECT_EQ(std::vector<uint32_t>(g.productions_of("B").begin(), g.productions_of("B").end()), of_b);

  // A second call stacks another "S'" production; without an argument it
  // takes "S'" itself, production 0's name.
  ASSERT_TRUE(g.set_start().ok());
  EXPECT_EQ(g.name(*g.start()), "S'");
  EXPECT_EQ(g.production_text(0), "S' -> S'");
  EXPECT_EQ(g.production_text(1), "S' -> A");
  EXPECT_EQ(g.production_text(4), "B -> B x");
  const std::vector<uint32_t> of_s = {0, 1};
  EXPECT_EQ(std::vector<uint32_t>(g.productions_of("S'").begin(), g.productions_of("S'").end()), of_s);
  ASSERT_TRUE(g.set_start(std::string_view("B")).ok());
  EXPECT_EQ(g.production_text(0), "S' -> B");
  EXPECT_EQ(g.num_productions(), 6u);
  for (uint32_t p = 0; p < g.num_productions(); ++p) {
    auto list = g.productions_of(g.production(p).name);
    EXPECT_TRUE(std::find(list.begin(), list.end(), p) != list.end()) << p;
  }
}

TEST(GrammarModel, ProductionText) {
  Grammar g;
  add_rules(g, "E : E '+' T | ; T : \"id\"");
  EXPECT_EQ(g.production_text(0), "E -> E + T");
  EXPECT_EQ(g.production_text(1), "E -> <empty>");
  EXPECT_EQ(g.production_text(2), "T -> id");
}

}  // namespace
}  // namespace vx
