// The parse loop's decisions: action lookup with its fallback and error
// mode, the reduce, shift and goto checks, and the recovery tables.
#include <gtest/gtest.h>

#include <string>
#include <memory>
#include <vector>

#include "parser/lookup_cache.hpp"
#include "parser/parse_step.hpp"

namespace vx::parse {
namespace {

using Kind = Action::Kind;

// State 0: PLUS has an explicit error, "+" shifts to 2, "$end" accepts, x
// reduces by 1. State 1: "+" shifts to 9 (beyond the 4 states), error
// reduces by 2 or by the minimum entry or by 7. State 2: error shifts to 3.
std::shared_ptr<const ParserTables> tables() {
  ActionMap action;
  action[0] = {{"PLUS", std::nullopt}, {"+", 2}, {"$end", 0}, {"x", -1}};
  action[1] = {{"+", 9}, {"error", -2}, {"y", std::numeric_limits<int32_t>::min()}, {"z", -7}};
  action[2] = {{"error", 3}};
  action[3] = {{"error", 0}};
  GotoMap gotos;
  gotos[0] = {{"E", 1}, {"F", 4}};
  return ParserTables::create(4, std::move(action), std::move(gotos));
}

TEST(ParseStep, OwnLookupStopsAtAnExplicitErrorAndOnlyAbsenceAllowsTheFallback) {
  auto t = tables();
  struct Case {
    uint64_t state;
    const char* name;
    bool found;
    Kind kind;
    uint64_t target;
  } cases[] = {
      {0, "PLUS", true, Kind::None, 0},   // explicit error: no fallback
      {0, "+", true, Kind::Shift, 2},
      {0, "$end", true, Kind::Accept, 0},
      {0, "x", true, Kind::Reduce, 1},
      {0, "error", false, Kind::None, 0},  // id known, no cell in this row
      {7, "+", false, Kind::None, 0},      // no row for the state
      {0, "unknown", false, Kind::None, 0},
  };
  for (const Case& c : cases) {
    OwnLookup r = own_action(*t, c.state, t->symbol_id(c.name));
    EXPECT_EQ(r.found, c.found) << c.name;
    EXPECT_EQ(r.action.kind, c.kind) << c.name;
    EXPECT_EQ(r.action.target, c.target) << c.name;
  }
  EXPECT_EQ(fallback_action(*t, 0, t->symbol_id("+")).kind, Kind::Shift);
  EXPECT_EQ(fallback_action(*t, 0, t->symbol_id("PLUS")).kind, Kind::None);  // explicit error
  EXPECT_EQ(fallback_action(*t, 0, std::nullopt).kind, Kind::None);
  EXPECT_EQ(fallback_action(*t, 2, t->symbol_id("+")).kind, Kind::None);
}

TEST(ParseStep, ErrorModeTakesOnlyUsableEntries) {
  auto t = tables();
  const auto error_id = t->symbol_id("error");
  const std::vector<uint64_t> lens = {1, 0, 2};
  struct Case {
    uint64_t state;
    size_t depth;
    std::vector<uint64_t> lens;
    Kind kind;
  } cases[] = {
      {2, 1, lens, Kind::Shift},
      {3, 5, lens, Kind::None},    // accept counts as no action
      {0, 5, lens, Kind::None},    // no cell
      {1, 3, lens, Kind::Reduce},  // len 2 below depth 3
      {1, 2, lens, Kind::None},    // len 2 not below depth 2
      {1, 9, {1, 0}, Kind::None},  // production 2 has no length
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error_action(*t, c.state, error_id, c.lens, c.depth).kind, c.kind) << c.state << " " << c.depth;
  }
  EXPECT_EQ(error_action(*t, 2, std::nullopt, lens, 9).kind, Kind::None);
  // The minimum entry and out-of-range productions are never reductions in error mode.
  ActionMap action;
  action[0] = {{"error", std::numeric_limits<int32_t>::min()}};
  auto min_table = ParserTables::create(1, std::move(action), {});
  EXPECT_EQ(error_action(*min_table, 0, min_table->symbol_id("error"), lens, 9).kind, Kind::None);
}

TEST(ParseStep, ChecksOfShiftReduceAndGoto) {
  auto t = tables();
  EXPECT_TRUE(check_shift(*t, action_of(3), 0).ok());
  Status bad_shift = check_shift(*t, action_of(9), 1);
  ASSERT_FALSE(bad_shift.ok());
  EXPECT_EQ(bad_shift.error().message, "Invalid shift state 9 from state 1");

  const std::vector<uint64_t> lens = {1, 0, 2, 1, 1};
  const ProductionLists lists{5, 5, lens};
  struct Case {
    int32_t entry;
    size_t depth;
    ProductionLists lists;
    const char* message;  // nullptr: accepted
  } cases[] = {
      {-2, 3, lists, nullptr},
      {-2, 2, lists, "Invalid reduction -2 in state 4"},  // length not below depth
      {-7, 9, lists, "Invalid reduction -7 in state 4"},
      {-4, 9, {4, 5, lens}, "Invalid reduction -4 in state 4"},  // beyond prod_names
      {-4, 9, {5, 0, lens}, "Invalid reduction -4 in state 4"},  // has_custom_func empty
      {std::numeric_limits<int32_t>::min(), 9, lists, "Invalid reduction -2147483648 in state 4"},
  };
  for (const Case& c : cases) {
    Outcome<uint64_t> r = check_reduce(action_of(c.entry), 4, c.lists, c.depth);
    if (!c.message) {
      ASSERT_TRUE(r.ok());
      EXPECT_EQ(r.value(), 2u);
    } else {
      ASSERT_FALSE(r.ok()) << c.entry;
      EXPECT_EQ(r.error().message, c.message);
    }
  }

  // The goto step as the loop takes it: the row's entry for the id of the
  // left-hand side's name (none for a name without an id), then its check.
  struct Goto {
    uint64_t state;
    const char* lhs;
    std::optional<uint64_t> entry;  // what the row holds
    const char* message;            // nullptr: the entry is the target
  } gotos[] = {
      {0, "E", 1, nullptr},
      {0, "F", 4, "Invalid GOTO state 4 from state 0"},
      {1, "E", std::nullopt, "No GOTO entry for nonterminal \"E\" from state 1"},
      {0, "a\"b", std::nullopt, "No GOTO entry for nonterminal \"a\\\"b\" from state 0"},  // no id
  };
  for (const Goto& c : gotos) {
    const std::optional<uint32_t> id = t->symbol_id(c.lhs);
    const std::optional<uint64_t> entry = id ? t->goto_target(c.state, *id) : std::nullopt;
    EXPECT_EQ(entry, c.entry) << c.state << " " << c.lhs;
    Outcome<uint64_t> r = check_goto(*t, c.state, entry, c.lhs);
    if (!c.message) {
      ASSERT_TRUE(r.ok()) << c.state << " " << c.lhs;
      EXPECT_EQ(r.value(), *c.entry);
    } else {
      ASSERT_FALSE(r.ok()) << c.state << " " << c.lhs;
      EXPECT_EQ(r.error().message, c.message);
    }
  }
}

TEST(ParseStep, WhatFollowsTheCallbackInEachStyle) {
  using A = AfterCallback;
  struct Case {
    Style style;
    CallbackReport r;  // errok, restart, has_result, at_end
    A expected;
  } cases[] = {
      {Style::Core, {true, false, false, false}, A::Resume},
      {Style::Core, {false, true, true, true}, A::Resume},
      {Style::Core, {false, false, true, true}, A::ReturnResult},
      {Style::Core, {false, false, false, true}, A::Panic},
      {Style::Vex, {true, true, false, true}, A::Resume},
      {Style::Vex, {false, true, true, true}, A::ReturnNone},
      {Style::Vex, {false, true, true, false}, A::Discard},
      {Style::Vex, {false, false, true, false}, A::Panic},  // a result alone is ignored
      {Style::Mox, {false, false, true, true}, A::Resume},
      {Style::Mox, {true, false, false, true}, A::ReturnNone},
      {Style::Mox, {true, true, false, false}, A::Discard},
      {Style::Mox, {true, false, false, false}, A::Panic},  // errok alone does not decide
  };
  for (const Case& c : cases) {
    EXPECT_EQ(after_callback(c.style, c.r), c.expected)
        << static_cast<int>(c.style) << c.r.errok << c.r.restart << c.r.has_result << c.r.at_end;
  }
}

TEST(ParseStep, ThePanicStepByTopLookaheadAndGuard) {
  // (top is error, at end, stuck): being stuck matters only where the error symbol would be inserted.
  struct Panic {
    bool top_is_error, at_end, stuck;
    PanicStep expected;
  };
  const Panic panics[] = {
      {false, true, false, PanicStep::InsertError},       {false, false, false, PanicStep::InsertError},
      {true, true, false, PanicStep::EndOfInput},         {true, false, false, PanicStep::DiscardToken},
      {true, true, true, PanicStep::EndOfInput},          {true, false, true, PanicStep::DiscardToken},
      {false, true, true, PanicStep::EndOfInput},         {false, false, true, PanicStep::SkipAndInsert},
  };
  for (const Panic& c : panics) {
    EXPECT_EQ(panic_step(c.top_is_error, c.at_end, c.stuck), c.expected) << c.top_is_error << c.at_end << c.stuck;
  }
}

TEST(ParseStep, StyleNamesMatchByteForByte) {
  EXPECT_EQ(style_named("core"), Style::Core);
  EXPECT_EQ(style_named("Core"), std::nullopt);
  EXPECT_EQ(style_named(std::string_view("vex\0", 4)), std::nullopt);
}

// Insertions the guard allows on the stacks `depth(i)` (i = 0, 1, ...)
// before it is stuck, up to `limit`.
template <class F>
uint32_t insertions_allowed(InsertionGuard& g, F depth, uint32_t limit = 100000) {
  for (uint32_t i = 0; i < limit; ++i) {
    if (g.stuck(depth(i))) return i;
    g.inserted(depth(i));
  }
  return limit;
}

TEST(ParseStep, InsertionGuardCountsInsertionsThatMakeNoProgress) {
  const uint32_t k = kMaxInsertions;
  struct Case {
    const char* what;
    uint64_t (*depth)(uint32_t);
    uint32_t allowed;
  };
  const Case cases[] = {
      {"the same stack", [](uint32_t) -> uint64_t { return 5; }, k},
      {"a growing stack", [](uint32_t i) -> uint64_t { return 5 + i; }, k},
      {"a stack one lower each time", [](uint32_t i) -> uint64_t { return 200000 - i; }, 100000},
      // Lower at the second insertion only: the count starts again there.
      {"lower once", [](uint32_t i) -> uint64_t { return i == 0 ? 9 : 8; }, k + 1},
      // Up and down, with a new lowest stack now and then.
      {"a new low every 500", [](uint32_t i) -> uint64_t { return 1000 - i / 500 + i % 3; }, 100000},
      {"a new low every other", [](uint32_t i) -> uint64_t { return i % 2 ? 90000 : 90000 - i / 2; }, 100000},
      {"back above the lowest", [](uint32_t i) -> uint64_t { return i < 2 ? 9 - i : 9; }, k + 1},
  };
  for (const Case& c : cases) {
    InsertionGuard g;
    g.token_read();
    EXPECT_EQ(insertions_allowed(g, c.depth), c.allowed) << c.what;
  }

  // A read starts every count again; having fired, the guard fires at the
  // first insertion without progress until a token is shifted.
  InsertionGuard g;
  g.token_read();
  EXPECT_EQ(insertions_allowed(g, [](uint32_t) -> uint64_t { return 5; }), k);
  g.token_read();
  EXPECT_EQ(insertions_allowed(g, [](uint32_t) -> uint64_t { return 5; }), k);
  g.fired();
  g.token_read();
  EXPECT_EQ(insertions_allowed(g, [](uint32_t) -> uint64_t { return 5; }), 1u);
  g.token_read();
  EXPECT_EQ(insertions_allowed(g, [](uint32_t i) -> uint64_t { return 50 - i; }, 40), 40u);  // progress still goes on
  g.token_shifted();
  g.token_read();
  EXPECT_EQ(insertions_allowed(g, [](uint32_t) -> uint64_t { return 5; }), k);
}

TEST(ParseStep, CachesAnswerAsTheTablesDo) {
  auto t = tables();
  // Every (state, id) pair, asked twice in a scrambled order of a cache smaller than
  // the pairs, agrees with the table.
  LookupCache<OwnLookup> cache(1);
  std::vector<std::pair<uint64_t, uint32_t>> keys;
  for (uint64_t state = 0; state < 6; ++state)
    for (uint32_t id = 0; id < t->num_symbols() + 1; ++id) keys.emplace_back(state, id);
  for (int round = 0; round < 2; ++round) {
    for (size_t k = 0; k < keys.size(); ++k) {
      const auto [state, id] = keys[(k * 7 + round) % keys.size()];
      OwnLookup want = own_action(*t, state, id);
      OwnLookup got = cache.get(state, id, [&] { return own_action(*t, state, id); });
      EXPECT_EQ(got.found, want.found);
      EXPECT_EQ(got.action.kind, want.action.kind);
      EXPECT_EQ(got.action.target, want.action.target);
    }
  }
  // Names are found by identity; equal texts in different objects get the same id.
  SymbolIdCache ids;
  auto plus = std::make_shared<const std::string>("+");
  auto plus_again = std::make_shared<const std::string>("+");
  auto unknown = std::make_shared<const std::string>("nope");
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ids.lookup(*t, plus), t->symbol_id("+"));
    EXPECT_EQ(ids.lookup(*t, plus_again), t->symbol_id("+"));
    EXPECT_EQ(ids.lookup(*t, unknown), std::nullopt);
  }
}

TEST(ParseStep, OneSpareSetOfCachesPerEngine) {
  auto t = tables();
  CacheShelf shelf;
  std::unique_ptr<LookupCaches> first = shelf.take(*t);
  LookupCaches* kept = first.get();
  std::unique_ptr<LookupCaches> nested = shelf.take(*t);  // the first is out: a new set
  EXPECT_NE(nested.get(), kept);
  shelf.put_back(std::move(first));
  shelf.put_back(std::move(nested));  // the shelf is full: this set is dropped
  EXPECT_EQ(shelf.take(*t).get(), kept);
}

}  // namespace
}  // namespace vx::parse
