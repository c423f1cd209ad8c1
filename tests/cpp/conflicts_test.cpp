// Conflict resolution and the conflict records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grammar_dsl.hpp"
#include "lr_table/conflicts.hpp"
#include "lr_table/lr_table.hpp"

namespace vx {
namespace {

using testing::GrammarSpec;
using testing::make_grammar;

// The first state holding `item`.
size_t state_with(const LRTable& t, LrItem item) {
  for (size_t s = 0; s < t.num_states(); ++s)
    for (const auto& it : t.state(s))
      if (it == item) return s;
  ADD_FAILURE() << "no state holds the item";
  return 0;
}

TEST(Conflicts, ChooseShiftReduceTruthTable) {
  struct Case {
    int32_t token;
    int32_t rule;
    const char* assoc;
    SrChoice choice;
  };
  const Case cases[] = {
      {1, 2, "right", SrChoice::Reduce},     {1, 2, "left", SrChoice::Reduce},
      {1, 2, "nonassoc", SrChoice::Reduce},  {3, 2, "left", SrChoice::Shift},
      {3, 2, "nonassoc", SrChoice::Shift},   {2, 2, "left", SrChoice::Reduce},
      {2, 2, "right", SrChoice::Shift},      {2, 2, "nonassoc", SrChoice::Error},
      {2, 2, "Left", SrChoice::Shift},       {2, 2, "sideways", SrChoice::Shift},
      {0, 0, "right", SrChoice::Shift},      {0, -1, "left", SrChoice::Shift},
      {INT32_MIN, INT32_MAX, "right", SrChoice::Reduce}, {INT32_MAX, INT32_MIN, "left", SrChoice::Shift},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose_shift_reduce(c.token, PrecPair{c.assoc, c.rule}), c.choice)
        << c.token << " " << c.rule << " " << c.assoc;
  }
}

TEST(Conflicts, AmbiguousGrammarShiftsAndRecords) {
  Grammar g = make_grammar(GrammarSpec{{"PLUS", "ID"}, "E : E PLUS E | ID", {}, {}});
  const LRTable t = LRTable::build(g);
  ASSERT_EQ(t.num_states(), 5u);
  EXPECT_EQ(testing::items(t.state(4)), "(1,3) (1,1)");
  EXPECT_EQ(testing::action_row(t, 4), "$end:-1 PLUS:3");
  EXPECT_EQ(t.sr_conflicts(), (std::vector<SrConflict>{{4, "PLUS", "shift"}}));
  EXPECT_TRUE(t.rr_conflicts().empty());
  ASSERT_EQ(t.conflicts().size(), 1u);
  const ConflictRecord expected{"shift/reduce",
                                4,
                                "PLUS",
                                "shift",
                                "Precedence of token \"PLUS\" (level 0) > production E -> E PLUS E (level 0)",
                                {LrItem{1, 1}, LrItem{1, 3}}};
  EXPECT_EQ(t.conflicts()[0], expected);
  const std::string la = testing::names(t, *t.lookahead(4, 1));
  EXPECT_EQ(la, "PLUS $end");
}

TEST(Conflicts, OperatorPrecedenceRecordsWordForWord) {
  Grammar g = make_grammar(GrammarSpec{{"plus", "minus", "times", "ID"},
                                       "E : E plus E | E times E | ID",
                                       {{"left", {"plus", "minus"}}, {"left", {"times"}}},
                                       {}});
  const LRTable t = LRTable::build(g);
  const size_t after_plus = state_with(t, {1, 3});
  const size_t after_times = state_with(t, {2, 3});
  const std::vector<ConflictRecord> expected = {
      {"shift/reduce", after_plus, "plus", "reduce",
       "Precedence of production E -> E plus E (level 1, left) >= token \"plus\" (level 1)",
       {LrItem{1, 1}, LrItem{1, 3}}},
      {"shift/reduce", after_plus, "times", "shift",
       "Precedence of token \"times\" (level 2) > production E -> E plus E (level 1)",
       {LrItem{2, 1}, LrItem{1, 3}}},
      {"shift/reduce", after_times, "plus", "reduce",
       "Precedence of production E -> E times E (level 2, left) >= token \"plus\" (level 1)",
       {LrItem{1, 1}, LrItem{2, 3}}},
      {"shift/reduce", after_times, "times", "reduce",
       "Precedence of production E -> E times E (level 2, left) >= token \"times\" (level 2)",
       {LrItem{2, 1}, LrItem{2, 3}}},
  };
  EXPECT_EQ(t.conflicts(), expected) << testing::dump(t);
  ASSERT_EQ(t.sr_conflicts().size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(t.sr_conflicts()[i].state, expected[i].state);
    EXPECT_EQ(t.sr_conflicts()[i].token, expected[i].token);
    EXPECT_EQ(t.sr_conflicts()[i].resolution, expected[i].resolution);
  }
  // The reduce entries in the state after "E plus E" on plus, shift on times.
  EXPECT_EQ(testing::action_row(t, after_plus), "$end:-1 plus:-1 times:" + std::to_string(state_with(t, {2, 2})));
  EXPECT_EQ(testing::action_row(t, after_times), "$end:-2 plus:-2 times:-2");
}

TEST(Conflicts, RightAndNonassoc) {
  Grammar g = make_grammar(GrammarSpec{{"ID"},
                                       "E : E '^' E | E '<' E | E '<' '<' | ID",
                                       {{"nonassoc", {"'<'"}}, {"right", {"'^'"}}},
                                       {}});
  const LRTable t = LRTable::build(g);
  const size_t pow = state_with(t, {1, 3});
  const size_t less = state_with(t, {2, 3});
  std::vector<ConflictRecord> in_less;
  for (const auto& c : t.conflicts()) {
    if (c.state == pow && c.token == "^") {
      EXPECT_EQ(c.resolution, "shift");
      EXPECT_EQ(c.reason, "Precedence of token \"^\" (level 2) > production E -> E ^ E (level 2)");
    }
    if (c.state == less && c.token == "<") in_less.push_back(c);
  }
  // The error entry stands; the further shift on '<' from E -> E . '<' '<'
  // is dropped without a record.
  ASSERT_EQ(in_less.size(), 1u) << testing::dump(t);
  EXPECT_EQ(in_less[0].resolution, "error (nonassoc)");
  EXPECT_EQ(in_less[0].reason, "Token \"<\" and rule E -> E < E are nonassociative");
  EXPECT_EQ(in_less[0].candidates, (std::array<LrItem, 2>{LrItem{2, 1}, LrItem{2, 3}}));
  bool has_error_cell = false;
  for (const auto& c : t.action_row(less)) has_error_cell |= t.symbol_name(c.symbol) == "<" && !c.entry;
  EXPECT_TRUE(has_error_cell);
  EXPECT_EQ(t.sr_conflicts().size(), t.conflicts().size());
}

TEST(Conflicts, ProductionAssociativityAndLevelDecide) {
  struct Case {
    const char* token_assoc;
    PrecPair rule;
    const char* resolution;
  };
  // The token '+' is declared (left, 1); the rule E -> E '+' E carries an
  // explicit pair.
  const Case cases[] = {
      {"left", {"right", 1}, "shift"},      // equal levels: the production's "right"
      {"right", {"left", 1}, "reduce"},     // equal levels: the production's "left"
      {"left", {"nonassoc", 1}, "error (nonassoc)"},
      {"left", {"left", 2}, "reduce"},
      {"left", {"left", 0}, "shift"},
  };
  for (const auto& c : cases) {
    Grammar g;
    const PrecedenceGroup groups[] = {{c.token_assoc, {"'+'"}}};
    ASSERT_TRUE(g.set_precedence(groups).ok());
    const std::vector<std::string> rhs = {"E", "'+'", "E"}, id = {"'id'"};
    ASSERT_TRUE(g.add_production_with_prec("E", rhs, 0, c.rule).ok());
    ASSERT_TRUE(g.add_production("E", id).ok());
    ASSERT_TRUE(g.set_start().ok());
    const LRTable t = LRTable::build(g);
    ASSERT_EQ(t.conflicts().size(), 1u) << testing::dump(t);
    EXPECT_EQ(t.conflicts()[0].resolution, c.resolution) << c.rule.assoc << " " << c.rule.level;
  }
}

TEST(Conflicts, UndeclaredTokenHasLevelZero) {
  // 'x' is undeclared (level 0): against a production of level 1 it reduces,
  // against an explicit negative level it shifts.
  for (int32_t level : {1, -1}) {
    Grammar g;
    const std::vector<std::string> rhs = {"E", "'x'", "E"}, id = {"'id'"};
    ASSERT_TRUE(g.add_production_with_prec("E", rhs, 0, PrecPair{"left", level}).ok());
    ASSERT_TRUE(g.add_production("E", id).ok());
    ASSERT_TRUE(g.set_start().ok());
    const LRTable t = LRTable::build(g);
    ASSERT_EQ(t.conflicts().size(), 1u);
    const auto& c = t.conflicts()[0];
    if (level == 1) {
      EXPECT_EQ(c.resolution, "reduce");
      EXPECT_EQ(c.reason, "Precedence of production E -> E x E (level 1, left) >= token \"x\" (level 0)");
    } else {
      EXPECT_EQ(c.resolution, "shift");
      EXPECT_EQ(c.reason, "Precedence of token \"x\" (level 0) > production E -> E x E (level -1)");
    }
  }
}

TEST(Conflicts, DanglingElseShifts) {
  Grammar g = make_grammar(GrammarSpec{{}, "S : 'if' E S | 'if' E S 'else' S | 'x' ; E : 'c'", {}, {}});
  const LRTable t = LRTable::build(g);
  ASSERT_EQ(t.conflicts().size(), 1u) << testing::dump(t);
  const auto& c = t.conflicts()[0];
  EXPECT_EQ(c.token, "else");
  EXPECT_EQ(c.resolution, "shift");
  EXPECT_EQ(c.reason, "Precedence of token \"else\" (level 0) > production S -> if E S (level 0)");
  EXPECT_EQ(c.candidates, (std::array<LrItem, 2>{LrItem{2, 3}, LrItem{1, 3}}));
}

TEST(Conflicts, ReduceReduceByLine) {
  struct Case {
    const char* rules;
    uint64_t chosen, rejected;
    const char* reason;
  };
  const Case cases[] = {
      {"S : A | B ; A : 'x' @10 ; B : 'x' @5", 4, 3, "Rule (B -> x) was defined earlier than (A -> x)"},
      {"S : A | B ; A : 'x' @5 ; B : 'x' @10", 3, 4, "Rule (A -> x) was defined earlier than (B -> x)"},
      {"S : A | B ; A : 'x' @7 ; B : 'x' @7", 3, 4, "Rule (A -> x) was defined earlier than (B -> x)"},
      {"S : A | B ; A : 'x' ; B : 'x'", 3, 4, "Rule (A -> x) was defined earlier than (B -> x)"},
      // The existing entry is the one first in item order, whatever its number.
      {"S : B | A ; A : 'x' ; B : 'x'", 4, 3, "Rule (B -> x) was defined earlier than (A -> x)"},
  };
  for (const auto& c : cases) {
    Grammar g = make_grammar(GrammarSpec{{}, c.rules, {}, {}});
    const LRTable t = LRTable::build(g);
    ASSERT_EQ(t.conflicts().size(), 1u) << c.rules << "\n" << testing::dump(t);
    const auto& r = t.conflicts()[0];
    const size_t st = state_with(t, {3, 1});
    EXPECT_EQ(t.rr_conflicts(), (std::vector<RrConflict>{{st, c.chosen, c.rejected}})) << c.rules;
    EXPECT_EQ(r.kind, "reduce/reduce");
    EXPECT_EQ(r.state, st);
    EXPECT_EQ(r.token, "$end");
    EXPECT_EQ(r.resolution, "reduce using rule " + std::to_string(c.chosen)) << c.rules;
    EXPECT_EQ(r.reason, c.reason) << c.rules;
    EXPECT_EQ(testing::action_row(t, st), "$end:-" + std::to_string(c.chosen)) << c.rules;
    EXPECT_TRUE(t.sr_conflicts().empty());
  }
  // Candidates: the existing production's completed item, then the new one.
  Grammar g = make_grammar(GrammarSpec{{}, "S : B | A ; A : 'x' ; B : 'x'", {}, {}});
  const LRTable t = LRTable::build(g);
  ASSERT_EQ(t.conflicts().size(), 1u);
  EXPECT_EQ(t.conflicts()[0].candidates, (std::array<LrItem, 2>{LrItem{4, 1}, LrItem{3, 1}}));
}

TEST(Conflicts, EmptyProductionsInReasons) {
  Grammar g = make_grammar(GrammarSpec{{}, "S : A 'x' | B 'x' ; A : @3 ; B : @2", {}, {}});
  const LRTable t = LRTable::build(g);
  ASSERT_EQ(t.conflicts().size(), 1u) << testing::dump(t);
  EXPECT_EQ(t.conflicts()[0].reason, "Rule (B -> <empty>) was defined earlier than (A -> <empty>)");
  EXPECT_EQ(t.conflicts()[0].resolution, "reduce using rule 4");
  EXPECT_EQ(t.conflicts()[0].candidates, (std::array<LrItem, 2>{LrItem{3, 0}, LrItem{4, 0}}));
}

TEST(Conflicts, ThirdActionMeetsTheSettledEntry) {
  // Three completed productions reduce on "$end" in one state: the second
  // is settled against the first, the third against the winner.
  Grammar g = make_grammar(GrammarSpec{{}, "S : A | B | C ; A : 'x' @9 ; B : 'x' @4 ; C : 'x' @6", {}, {}});
  const LRTable t = LRTable::build(g);
  const size_t st = state_with(t, {4, 1});
  EXPECT_EQ(t.rr_conflicts(), (std::vector<RrConflict>{{st, 5, 4}, {st, 5, 6}}));
  ASSERT_EQ(t.conflicts().size(), 2u);
  EXPECT_EQ(t.conflicts()[1].candidates, (std::array<LrItem, 2>{LrItem{5, 1}, LrItem{6, 1}}));
  EXPECT_EQ(testing::action_row(t, st), "$end:-5");
}

TEST(Conflicts, NoConflictsNoRecords) {
  Grammar g = make_grammar(GrammarSpec{{}, "S : S ';' T | T ; T : 'a' | '(' S ')'", {}, {}});
  const LRTable t = LRTable::build(g);
  EXPECT_TRUE(t.conflicts().empty());
  EXPECT_TRUE(t.sr_conflicts().empty());
  EXPECT_TRUE(t.rr_conflicts().empty());
}

}  // namespace
}  // namespace vx
