// LR(0) states, LALR(1) lookaheads and action/goto filling.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "grammar_dsl.hpp"
#include "lr_table/lalr.hpp"
#include "lr_table/lr0.hpp"
#include "lr_table/lr_table.hpp"
#include "lr_table/row_cells.hpp"

namespace vx {
namespace {

using testing::GrammarSpec;
using testing::make_grammar;

Grammar worked_example() { return make_grammar(GrammarSpec{{"PLUS", "ID"}, "E : E PLUS T | T ; T : ID", {}, {}}); }

std::string item_ids(const GrammarIndex& gi, std::span<const ItemId> ids) {
  std::vector<LrItem> list;
  for (ItemId it : ids) list.push_back({gi.item_prod[it], gi.dot_of(it)});
  return testing::items(list);
}

std::string transitions(const Grammar& g, const Lr0Automaton& a, size_t s) {
  std::string out;
  for (const auto& t : a.transitions_of(s)) {
    if (!out.empty()) out += ", ";
    out += g.name(t.symbol) + " -> " + std::to_string(t.target);
  }
  return out;
}

std::string node_name(const Grammar& g, const LalrAnalysis& la, uint32_t x) {
  return "(" + std::to_string(la.nodes[x].state) + "," + g.name(la.nodes[x].symbol) + ")";
}

std::string lookaheads(const LRTable& t) {
  std::string out;
  for (const auto& la : t.lookaheads()) {
    if (!out.empty()) out += "; ";
    out += "(" + std::to_string(la.state) + "," + std::to_string(la.production) + "): " +
           testing::names(t, la.terminals);
  }
  return out;
}

// ---------------------------------------------------------------------------
// The worked example: E -> E PLUS T | T, T -> ID.

TEST(WorkedExample, Lr0States) {
  Grammar g = worked_example();
  const GrammarIndex gi(g);
  const Lr0Automaton a = build_lr0(gi);
  const std::pair<const char*, const char*> expected[] = {
      {"(0,0) (1,0) (2,0) (3,0)", "E -> 1, T -> 2, ID -> 3"},
      {"(0,1) (1,1)", "PLUS -> 4"},
      {"(2,1)", ""},
      {"(3,1)", ""},
      {"(1,2) (3,0)", "T -> 5, ID -> 3"},
      {"(1,3)", ""},
  };
  ASSERT_EQ(a.num_states(), std::size(expected));
  for (size_t s = 0; s < a.num_states(); ++s) {
    EXPECT_EQ(item_ids(gi, a.items_of(s)), expected[s].first) << s;
    EXPECT_EQ(transitions(g, a, s), expected[s].second) << s;
  }
}

TEST(WorkedExample, LalrRelations) {
  Grammar g = worked_example();
  const GrammarIndex gi(g);
  const Lr0Automaton a = build_lr0(gi);
  const LalrAnalysis la = analyse_lalr(gi, a);
  for (uint8_t n : la.nullable) EXPECT_EQ(n, 0);
  ASSERT_EQ(la.nodes.size(), 3u);
  EXPECT_EQ(node_name(g, la, 0), "(0,E)");
  EXPECT_EQ(node_name(g, la, 1), "(0,T)");
  EXPECT_EQ(node_name(g, la, 2), "(4,T)");
  EXPECT_EQ(testing::names(g, la.direct_reads[0]), "PLUS $end");
  EXPECT_TRUE(la.direct_reads[1].empty());
  EXPECT_TRUE(la.direct_reads[2].empty());
  for (const auto& r : la.reads) EXPECT_TRUE(r.empty());
  EXPECT_TRUE(la.includes[0].empty());
  EXPECT_EQ(la.includes[1], std::vector<uint32_t>{0});
  EXPECT_EQ(la.includes[2], std::vector<uint32_t>{0});
  EXPECT_EQ(la.lookback[0], (std::vector<LookbackPair>{{5, 1}, {2, 2}}));
  EXPECT_EQ(la.lookback[1], (std::vector<LookbackPair>{{3, 3}}));
  EXPECT_EQ(la.lookback[2], (std::vector<LookbackPair>{{3, 3}}));
  for (const auto& f : la.follow) EXPECT_EQ(testing::names(g, f), "PLUS $end");
}

TEST(WorkedExample, Table) {
  Grammar g = worked_example();
  const LRTable t = LRTable::build(g);
  ASSERT_EQ(t.num_states(), 6u);
  const std::pair<const char*, const char*> expected[] = {
      {"ID:3", "E:1 T:2"},     {"$end:0 PLUS:4", ""}, {"$end:-2 PLUS:-2", ""},
      {"$end:-3 PLUS:-3", ""}, {"ID:3", "T:5"},       {"$end:-1 PLUS:-1", ""},
  };
  for (size_t s = 0; s < 6; ++s) {
    EXPECT_EQ(testing::action_row(t, s), expected[s].first) << s;
    EXPECT_EQ(testing::goto_row(t, s), expected[s].second) << s;
  }
  EXPECT_EQ(testing::items(t.state(1)), "(0,1) (1,1)");
  EXPECT_EQ(testing::items(t.item_set(4)), "(1,2) (3,0)");
  EXPECT_EQ(lookaheads(t), "(5,1): PLUS $end; (2,2): PLUS $end; (3,3): PLUS $end");
  ASSERT_NE(t.lookahead(3, 3), nullptr);
  EXPECT_EQ(t.lookahead(3, 1), nullptr);
  EXPECT_EQ(t.lookahead(1, 0), nullptr);  // the accept item has no list
  EXPECT_TRUE(t.conflicts().empty());
  EXPECT_TRUE(t.sr_conflicts().empty());
  EXPECT_TRUE(t.rr_conflicts().empty());
  // Rows in placement order: the reduction's lookahead order.
  ASSERT_EQ(t.action_row(2).size(), 2u);
  EXPECT_EQ(t.symbol_name(t.action_row(2)[0].symbol), "PLUS");
}

TEST(WorkedExample, ParserTables) {
  Grammar g = worked_example();
  const LRTable t = LRTable::build(g);
  auto pt = t.make_parser_tables();
  EXPECT_EQ(pt->num_states(), 6u);
  const char* order[] = {"$end", "E", "ID", "PLUS", "T"};
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(pt->symbol_id(order[i]), i) << order[i];
  EXPECT_EQ(pt->symbol_id("error"), std::nullopt);  // in no row
  EXPECT_EQ(pt->action_entry(1, 0), ActionEntry(0));
  EXPECT_EQ(pt->action_entry(1, 3), ActionEntry(4));
  EXPECT_EQ(pt->action_entry(5, 0), ActionEntry(-1));
  EXPECT_EQ(pt->action_entry(0, 0), std::nullopt);
  EXPECT_EQ(pt->goto_target(0, 1), 1u);
  EXPECT_EQ(pt->goto_target(4, 4), 5u);
  EXPECT_EQ(pt->goto_target(4, 1), std::nullopt);
}

// ---------------------------------------------------------------------------
// LR(0) construction

TEST(Lr0, ClosureOrderFollowsTheWalk) {
  // S is expanded first (1, 2), then A for item (1,0) (4, 5), then B (3).
  Grammar g = make_grammar(GrammarSpec{{}, "S : A B | B A ; B : 'b' ; A : 'a1' | 'a2' | A A", {}, {}});
  const LRTable t = LRTable::build(g);
  EXPECT_EQ(testing::items(t.state(0)), "(0,0) (1,0) (2,0) (4,0) (5,0) (6,0) (3,0)");
}

TEST(Lr0, AugmentedSymbolInARule) {
  // (0,0) comes again as an expansion of "S'": kernel items are not counted
  // as added. Its item set holds it once.
  Grammar g = make_grammar(GrammarSpec{{}, "S : 'x' | S' 'y'", {}, {}});
  const LRTable t = LRTable::build(g);
  EXPECT_EQ(testing::items(t.state(0)), "(0,0) (1,0) (2,0) (0,0)");
  EXPECT_EQ(testing::items(t.item_set(0)), "(0,0) (1,0) (2,0)");
  // The goto on S carries the duplicate along in its kernel.
  EXPECT_EQ(testing::items(t.state(1)), "(0,1) (0,1)");
  EXPECT_EQ(testing::items(t.item_set(1)), "(0,1)");
  EXPECT_EQ(testing::action_row(t, 1), "$end:0");
}

TEST(Lr0, EmptyProductionsAndUndefinedNames) {
  // u is neither terminal nor rule: it gets a transition and a state, but no
  // entry; the state it leads to still gets rows from its own items.
  Grammar g = make_grammar(GrammarSpec{{}, "S : A u 'x' | 'y' ; A :", {}, {}});
  const GrammarIndex gi(g);
  const Lr0Automaton a = build_lr0(gi);
  EXPECT_EQ(item_ids(gi, a.items_of(0)), "(0,0) (1,0) (2,0) (3,0)");
  EXPECT_EQ(transitions(g, a, 0), "S -> 1, A -> 2, y -> 3");  // (3,0) is completed: no symbol
  EXPECT_EQ(transitions(g, a, 2), "u -> 4");
  const LRTable t = LRTable::build(g);
  EXPECT_EQ(testing::action_row(t, 2), "");
  EXPECT_EQ(testing::goto_row(t, 2), "");
  EXPECT_EQ(testing::action_row(t, 4), "x:5");
  EXPECT_EQ(t.num_states(), 6u);
}

TEST(Lr0, StatesAreFoundByItemSetNotByOrder) {
  // Both orders of the kernel {A -> a . , B -> a .} lead to one state.
  Grammar g = make_grammar(GrammarSpec{{}, "S : 'p' X | 'q' Y ; X : A | B ; Y : B | A ; A : 'a' ; B : 'a'", {}, {}});
  const GrammarIndex gi(g);
  const Lr0Automaton a = build_lr0(gi);
  std::vector<uint32_t> targets;
  for (size_t s = 0; s < a.num_states(); ++s)
    for (const auto& tr : a.transitions_of(s))
      if (g.name(tr.symbol) == "a") targets.push_back(tr.target);
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0], targets[1]);
  // The state keeps the order of the goto that created it (from X's state).
  EXPECT_EQ(item_ids(gi, a.items_of(targets[0])), "(7,1) (8,1)");
}

// ---------------------------------------------------------------------------
// LALR(1) lookaheads

TEST(Lalr, NullableChainPassesReadsAlong) {
  Grammar g = make_grammar(GrammarSpec{{}, "S : A B C 'd' ; A : ; B : ; C : | 'c'", {}, {}});
  const LRTable t = LRTable::build(g);
  EXPECT_EQ(lookaheads(t), "(6,1): $end; (0,2): c d; (2,3): c d; (3,4): d; (5,5): d");
  EXPECT_EQ(testing::action_row(t, 0), "c:-2 d:-2");
  EXPECT_EQ(testing::action_row(t, 3), "c:5 d:-4");
}

TEST(Lalr, StartTransitionReadsEndLast) {
  // "$end" comes after the terminals of the goto, and only once.
  Grammar g = make_grammar(GrammarSpec{{}, "S : S 'a' | 'b'", {}, {}});
  const GrammarIndex gi(g);
  const LalrAnalysis la = analyse_lalr(gi, build_lr0(gi));
  ASSERT_FALSE(la.nodes.empty());
  EXPECT_EQ(testing::names(g, la.direct_reads[0]), "a $end");
}

TEST(Lalr, IncludesNeedANullableSuffix) {
  // Terminals and undefined names after B stop the includes relation, and
  // undefined names are no direct reads: B's lookahead list is empty.
  Grammar g = make_grammar(GrammarSpec{{}, "S : B u | C 'x' D ; B : 'b' ; C : 'c' ; D : | 'd'", {}, {}});
  const LRTable t = LRTable::build(g);
  EXPECT_EQ(lookaheads(t), "(6,1): $end; (8,2): $end; (4,3): ; (5,4): x; (7,5): $end; (9,6): $end");
  ASSERT_NE(t.lookahead(4, 3), nullptr);
  EXPECT_TRUE(t.lookahead(4, 3)->empty());
  EXPECT_EQ(testing::action_row(t, 4), "");  // B -> b . reduces on nothing
}

TEST(Lalr, LookaheadsDistinguishStatesUnlikeFollow) {
  // The classic grammar that is LALR(1) but not SLR(1).
  Grammar g = make_grammar(GrammarSpec{{}, "S : L '=' R | R ; L : '*' R | 'id' ; R : L", {}, {}});
  const LRTable t = LRTable::build(g);
  EXPECT_TRUE(t.conflicts().empty()) << testing::dump(t);
  EXPECT_EQ(testing::set_of(g, g.follow(), "R"), "$end =");
}

TEST(Lalr, DeepRelationsNeedNoRecursion) {
  // A0 -> A1 -> ... -> An -> 'x': FIRST, FOLLOW, includes and the states all
  // form chains n long.
  const int n = 100'000;
  Grammar g;
  for (int i = 0; i < n; ++i) {
    const std::vector<std::string> rhs = {"A" + std::to_string(i + 1)};
    ASSERT_TRUE(g.add_production("A" + std::to_string(i), rhs).ok());
  }
  const std::vector<std::string> last = {"'x'"};
  ASSERT_TRUE(g.add_production("A" + std::to_string(n), last).ok());
  ASSERT_TRUE(g.set_start().ok());
  const LRTable t = LRTable::build(g);
  EXPECT_EQ(t.num_states(), static_cast<size_t>(n) + 3);
  EXPECT_EQ(testing::set_of(g, g.first(), "A0"), "x");
  EXPECT_EQ(testing::set_of(g, g.follow(), "A" + std::to_string(n)), "$end");
  for (const auto& la : t.lookaheads()) ASSERT_EQ(testing::names(t, la.terminals), "$end");
  EXPECT_EQ(t.lookaheads().size(), static_cast<size_t>(n) + 1);
}

// ---------------------------------------------------------------------------
// Filling

TEST(Fill, AcceptIsNeverContested) {
  // Later: in state 1 the reduction A -> S . on "$end" meets the accept entry.
  Grammar later = make_grammar(GrammarSpec{{}, "S : A ; A : S | 'x'", {}, {}});
  const LRTable t1 = LRTable::build(later);
  EXPECT_EQ(testing::items(t1.state(1)), "(0,1) (2,1)");
  EXPECT_EQ(testing::action_row(t1, 1), "$end:0");
  // Earlier: T -> x S . comes before (0,1) in its state and reduces on
  // "$end" first; the accept entry replaces it.
  Grammar earlier = make_grammar(GrammarSpec{{}, "S : T | 'y' ; T : 'x' S' | 'x' S", {}, {}});
  const LRTable t2 = LRTable::build(earlier);
  bool found = false;
  for (size_t s = 0; s < t2.num_states(); ++s) {
    if (testing::items(t2.state(s)) != "(4,2) (0,1)") continue;
    found = true;
    EXPECT_EQ(testing::action_row(t2, s), "$end:0");
  }
  EXPECT_TRUE(found) << testing::dump(t2);
  for (const auto* t : {&t1, &t2})
    for (const auto& c : t->conflicts()) EXPECT_NE(c.token, "$end") << testing::dump(*t);
}

TEST(Fill, SecondStartProductionAccepts) {
  Grammar g = make_grammar(GrammarSpec{{}, "E : 'id'", {}, {}});
  ASSERT_TRUE(g.set_start().ok());  // 0: S' -> S', 1: S' -> E, 2: E -> id
  const LRTable t = LRTable::build(g);
  for (size_t s = 0; s < t.num_states(); ++s) {
    for (const auto& it : t.state(s)) {
      if (it.production <= 1 && it.dot == 1) {
        EXPECT_EQ(testing::action_row(t, s), "$end:0") << s;
      }
    }
  }
}

TEST(Fill, TerminalThatIsAlsoARuleShifts) {
  Grammar g = make_grammar(GrammarSpec{{}, "expr : 'n' ; S : 'expr' expr", {}, "S"});
  const LRTable t = LRTable::build(g);
  bool shifts = false;
  for (size_t s = 0; s < t.num_states(); ++s) {
    for (const auto& c : t.goto_row(s)) EXPECT_NE(t.symbol_name(c.symbol), "expr") << s;
    for (const auto& c : t.action_row(s)) shifts |= t.symbol_name(c.symbol) == "expr" && c.entry > 0;
  }
  EXPECT_TRUE(shifts);
}

TEST(Fill, CompletedItemWithoutLookaheadPlacesNothing) {
  // A rule named "S'" without set_start: production 0 is A -> x, whose
  // completed item has no lookahead list and is no accept item.
  Grammar g;
  testing::add_rules(g, "A : 'x' ; S' : A");
  const LRTable t = LRTable::build(g);
  ASSERT_EQ(t.num_states(), 2u);
  EXPECT_EQ(testing::items(t.state(1)), "(0,1)");
  EXPECT_EQ(testing::action_row(t, 1), "");
  EXPECT_TRUE(t.lookaheads().empty());
}

TEST(Fill, EveryStateHasRows) {
  Grammar g = make_grammar(GrammarSpec{{}, "S : u 'x' | 'y'", {}, {}});
  const LRTable t = LRTable::build(g);
  const auto am = t.action_map();
  const auto gm = t.goto_map();
  EXPECT_EQ(am.size(), t.num_states());
  EXPECT_EQ(gm.size(), t.num_states());
  for (size_t s = 0; s < t.num_states(); ++s) {
    EXPECT_TRUE(am.count(s) && gm.count(s)) << s;
    EXPECT_EQ(am.at(s).size(), t.action_row(s).size());
  }
}

TEST(Fill, RowCellsFindOnlyTheCurrentRow) {
  // Each step places (symbol, value) in the current row, or starts the next
  // row (symbol kNoSymbol); `kept` is the cell's value after the step.
  struct Step {
    SymbolId symbol;
    int value;
    bool fresh;
    int kept;
  } steps[] = {
      {3, 10, true, 10}, {0, 11, true, 11},  {3, 12, false, 10},  // the first placement stays
      {kNoSymbol, 0, false, 0},
      {0, 13, true, 13},  // the last row's cells are forgotten
      {3, 14, true, 14}, {0, 15, false, 13}, {3, 16, false, 14},
  };
  RowCells<int> row(4);
  row.next_row();
  std::vector<int> expected;
  for (const Step& s : steps) {
    if (s.symbol == kNoSymbol) {
      row.next_row();
      expected.clear();
      EXPECT_TRUE(row.cells().empty());
      continue;
    }
    auto [cell, fresh] = row.place(s.symbol, s.value);
    EXPECT_EQ(fresh, s.fresh) << s.value;
    EXPECT_EQ(cell, s.kept) << s.value;
    if (fresh) expected.push_back(s.value);
    EXPECT_EQ(std::vector<int>(row.cells().begin(), row.cells().end()), expected) << s.value;
    EXPECT_EQ(&cell, &row.cells()[std::find(expected.begin(), expected.end(), s.kept) - expected.begin()]) << s.value;
  }

  // The numbers themselves: set in one row, gone in the next.
  RowIndex index(4);
  index.next_row();
  index.set(2, 7);
  ASSERT_NE(index.find(2), nullptr);
  EXPECT_EQ(*index.find(2), 7u);
  EXPECT_EQ(index.find(1), nullptr);
  index.next_row();
  EXPECT_EQ(index.find(2), nullptr);
}

// ---------------------------------------------------------------------------
// Determinism and the compact tables

const char* const kMixedGrammar =
    "stmt : 'if' expr stmt | 'if' expr stmt 'else' stmt | expr ';' | 'while' expr stmt | '{' list '}' ;"
    "list : | list stmt ;"
    "expr : expr '+' expr | expr '*' expr | '-' expr %prec UMINUS | expr '<' expr | expr '=' expr"
    "     | '(' expr ')' | 'id' | 'num' ;"
    "decl : 'id' | 'id' ;"
    "stmt : decl 'var'";

Grammar mixed_grammar() {
  return make_grammar(GrammarSpec{{},
                                  kMixedGrammar,
                                  {{"right", {"'='"}}, {"nonassoc", {"'<'"}}, {"left", {"'+'"}},
                                   {"left", {"'*'"}}, {"right", {"UMINUS"}}},
                                  {}});
}

TEST(Determinism, TwoBuildsAreEqual) {
  Grammar g = mixed_grammar();
  const LRTable a = LRTable::build(g);
  const LRTable b = LRTable::build(g);
  EXPECT_TRUE(a == b);
  EXPECT_EQ(testing::dump(a), testing::dump(b));
  Grammar h = mixed_grammar();  // a fresh grammar, same edits
  EXPECT_EQ(testing::dump(LRTable::build(h)), testing::dump(a));
  EXPECT_FALSE(a.conflicts().empty());
}

TEST(Determinism, CompactTablesEqualThoseBuiltFromMaps) {
  Grammar g = mixed_grammar();
  const LRTable t = LRTable::build(g);
  auto direct = t.make_parser_tables();
  auto via_maps = ParserTables::create(t.num_states(), t.action_map(), t.goto_map());
  ASSERT_EQ(direct->num_symbols(), via_maps->num_symbols());
  for (const auto& name : t.symbol_names()) EXPECT_EQ(direct->symbol_id(name), via_maps->symbol_id(name)) << name;
  for (uint64_t s = 0; s <= t.num_states(); ++s) {
    for (uint32_t id = 0; id <= direct->num_symbols(); ++id) {
      EXPECT_EQ(direct->action_entry(s, id), via_maps->action_entry(s, id));
      EXPECT_EQ(direct->goto_target(s, id), via_maps->goto_target(s, id));
    }
  }
}

}  // namespace
}  // namespace vx
