// Compact parse tables: symbol numbering, row layout and the three lookups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parser/tables.hpp"

namespace vx {
namespace {

ActionMap one_state_actions(std::initializer_list<std::pair<const std::string, ActionEntry>> row) {
  ActionMap m;
  m[0] = ActionRowMap(row);
  return m;
}

TEST(ParserTables, SymbolIdsFollowByteOrder) {
  auto t = ParserTables::create(1, one_state_actions({{"b", 1}, {"a", 1}, {"B", 1}, {"ab", 1}, {"$end", 1}}), {});
  const std::pair<const char*, uint32_t> expected[] = {{"$end", 0}, {"B", 1}, {"a", 2}, {"ab", 3}, {"b", 4}};
  for (const auto& [name, id] : expected) EXPECT_EQ(t->symbol_id(name), id) << name;
  EXPECT_EQ(t->num_symbols(), 5u);
  EXPECT_EQ(t->symbol_id("c"), std::nullopt);
  EXPECT_EQ(t->symbol_id(""), std::nullopt);
}

TEST(ParserTables, NonAsciiNamesSortAsUnsignedBytes) {
  // "é" is 0xC3 0xA9: after every ASCII name, also after "z".
  auto t = ParserTables::create(1, one_state_actions({{"\xC3\xA9", 1}, {"z", 2}, {"", 3}}), {});
  EXPECT_EQ(t->symbol_id(""), 0u);
  EXPECT_EQ(t->symbol_id("z"), 1u);
  EXPECT_EQ(t->symbol_id("\xC3\xA9"), 2u);
}

TEST(ParserTables, RowsAtOrBeyondNumStatesAreDroppedButNamed) {
  ActionMap action;
  action[0] = {{"a", 1}};
  action[5] = {{"only5", 2}};
  GotoMap gotos;
  gotos[2] = {{"E", 1}};
  gotos[3] = {{"G3", 1}};
  auto t = ParserTables::create(3, std::move(action), std::move(gotos));
  EXPECT_EQ(t->num_states(), 3u);
  const auto only5 = t->symbol_id("only5");
  const auto g3 = t->symbol_id("G3");
  ASSERT_TRUE(only5 && g3);
  for (uint64_t s = 0; s < 8; ++s) {
    EXPECT_EQ(t->action_entry(s, *only5), std::nullopt) << s;
    EXPECT_EQ(t->goto_target(s, *g3), std::nullopt) << s;
  }
  EXPECT_EQ(t->action_entry(0, *t->symbol_id("a")), ActionEntry(1));
  EXPECT_EQ(t->goto_target(2, *t->symbol_id("E")), 1u);
  // State 1 has no entry in either map: empty rows.
  EXPECT_TRUE(t->action_row(1).empty());
  EXPECT_TRUE(t->goto_row(1).empty());
}

TEST(ParserTables, ActionAndGotoKeyShareOneId) {
  ActionMap action;
  action[0] = {{"X", 3}};
  GotoMap gotos;
  gotos[1] = {{"X", 7}, {"Y", 2}};
  auto t = ParserTables::create(2, std::move(action), std::move(gotos));
  EXPECT_EQ(t->num_symbols(), 2u);
  const uint32_t x = *t->symbol_id("X");
  EXPECT_EQ(t->action_entry(0, x), ActionEntry(3));
  EXPECT_EQ(t->goto_target(1, x), 7u);
  EXPECT_EQ(t->goto_target(0, x), std::nullopt);
  EXPECT_EQ(t->action_entry(1, x), std::nullopt);
}

TEST(ParserTables, ExplicitErrorIsDistinctFromAbsent) {
  ActionMap action;
  action[0] = {{"b", 1}, {"a", std::nullopt}};
  action[1] = {{"c", std::nullopt}};  // one-cell row holding the error entry
  action[2] = {{"z", 5}};
  auto t = ParserTables::create(3, std::move(action), {});
  const uint32_t a = *t->symbol_id("a"), b = *t->symbol_id("b"), c = *t->symbol_id("c"), z = *t->symbol_id("z");

  const auto row = t->action_row(0);
  ASSERT_EQ(row.size(), 2u);
  EXPECT_EQ(row[0].id, a);
  EXPECT_FALSE(row[0].has_value);
  EXPECT_EQ(row[1].id, b);
  EXPECT_TRUE(row[1].has_value);
  EXPECT_EQ(row[1].value, 1);

  const std::optional<ActionEntry> error{ActionEntry{}};
  EXPECT_EQ(t->action_entry(0, a), error);
  EXPECT_EQ(t->action_entry(0, b), ActionEntry(1));
  EXPECT_EQ(t->action_entry(0, c), std::nullopt);
  EXPECT_EQ(t->action_entry(1, c), error);
  EXPECT_EQ(t->action_entry(1, a), std::nullopt);
  EXPECT_EQ(t->action_entry(1, z), std::nullopt);
  EXPECT_EQ(t->action_entry(2, z), ActionEntry(5));
}

TEST(ParserTables, EntriesAndTargetsAreStoredUnchecked) {
  ActionMap action;
  action[0] = {{"lo", INT32_MIN}, {"hi", INT32_MAX}, {"acc", 0}, {"far", 1000}};
  GotoMap gotos;
  gotos[0] = {{"N", UINT64_MAX}};
  auto t = ParserTables::create(1, std::move(action), std::move(gotos));
  EXPECT_EQ(t->action_entry(0, *t->symbol_id("lo")), ActionEntry(INT32_MIN));
  EXPECT_EQ(t->action_entry(0, *t->symbol_id("hi")), ActionEntry(INT32_MAX));
  EXPECT_EQ(t->action_entry(0, *t->symbol_id("acc")), ActionEntry(0));
  EXPECT_EQ(t->action_entry(0, *t->symbol_id("far")), ActionEntry(1000));
  EXPECT_EQ(t->goto_target(0, *t->symbol_id("N")), UINT64_MAX);
}

TEST(ParserTables, ZeroStatesHaveNoRowsButAllNames) {
  ActionMap action;
  action[0] = {{"a", 1}};
  GotoMap gotos;
  gotos[0] = {{"E", 1}};
  auto t = ParserTables::create(0, std::move(action), std::move(gotos));
  EXPECT_EQ(t->num_symbols(), 2u);
  EXPECT_EQ(t->action_entry(0, *t->symbol_id("a")), std::nullopt);
  EXPECT_EQ(t->goto_target(0, *t->symbol_id("E")), std::nullopt);
}

TEST(ParserTables, HugeStateCountCostsNoMemory) {
  ActionMap action;
  action[1] = {{"a", 1}};
  auto t = ParserTables::create(UINT64_MAX, std::move(action), {});
  EXPECT_EQ(t->action_entry(1, 0), ActionEntry(1));
  EXPECT_EQ(t->action_entry(UINT64_MAX - 1, 0), std::nullopt);
  EXPECT_EQ(t->goto_target(UINT64_MAX - 1, 0), std::nullopt);
}

// Rows of every length around the binary search's edges: every present id is
// found and every missing id (between, below and above) is absent.
TEST(ParserTables, BinarySearchFindsEveryCell) {
  for (int len : {1, 2, 3, 4, 5, 7, 8, 9, 16, 31, 100}) {
    ActionMap action;
    GotoMap gotos;
    // Names n000, n002, n004, ...; the odd ones exist only in state 1.
    for (int k = 0; k < 2 * len + 1; ++k) {
      char name[16];
      std::snprintf(name, sizeof name, "n%03d", k);
      if (k % 2 == 0 && k / 2 < len) {
        action[0][name] = k;
        gotos[0][name] = static_cast<uint64_t>(k);
      } else {
        action[1][name] = std::nullopt;
      }
    }
    auto t = ParserTables::create(2, std::move(action), std::move(gotos));
    for (int k = 0; k < 2 * len + 1; ++k) {
      char name[16];
      std::snprintf(name, sizeof name, "n%03d", k);
      const uint32_t id = *t->symbol_id(name);
      if (k % 2 == 0 && k / 2 < len) {
        EXPECT_EQ(t->action_entry(0, id), ActionEntry(k)) << len << " " << name;
        EXPECT_EQ(t->goto_target(0, id), static_cast<uint64_t>(k)) << len << " " << name;
      } else {
        EXPECT_EQ(t->action_entry(0, id), std::nullopt) << len << " " << name;
        EXPECT_EQ(t->goto_target(0, id), std::nullopt) << len << " " << name;
      }
    }
    EXPECT_EQ(t->action_entry(0, static_cast<uint32_t>(t->num_symbols())), std::nullopt);
  }
}

// The same content inserted in different orders into maps of different
// bucket counts (so iterated in different orders) gives identical tables.
TEST(ParserTables, IndependentOfMapIterationOrder) {
  std::vector<std::string> names;
  for (int k = 0; k < 60; ++k) names.push_back("sym" + std::to_string(k * 7919 % 61));
  auto build = [&](bool reverse, size_t buckets) {
    ActionMap action(buckets);
    GotoMap gotos(buckets);
    for (size_t i = 0; i < names.size(); ++i) {
      const size_t k = reverse ? names.size() - 1 - i : i;
      ActionRowMap& row = action[k % 5];
      if (row.bucket_count() < buckets) row.rehash(buckets);
      row[names[k]] = static_cast<int32_t>(k) - 30;
      gotos[k % 3][names[k]] = k;
    }
    return ParserTables::create(5, std::move(action), std::move(gotos));
  };
  auto a = build(false, 1), b = build(true, 97);
  ASSERT_EQ(a->num_symbols(), b->num_symbols());
  for (const auto& n : names) EXPECT_EQ(a->symbol_id(n), b->symbol_id(n));
  for (uint64_t s = 0; s < 5; ++s) {
    auto ra = a->action_row(s), rb = b->action_row(s);
    ASSERT_EQ(ra.size(), rb.size());
    for (size_t i = 0; i < ra.size(); ++i) {
      EXPECT_EQ(ra[i].id, rb[i].id);
      EXPECT_EQ(ra[i].value, rb[i].value);
      if (i > 0) {
        EXPECT_LT(ra[i - 1].id, ra[i].id);
      }
    }
    auto ga = a->goto_row(s), gb = b->goto_row(s);
    ASSERT_EQ(ga.size(), gb.size());
    for (size_t i = 0; i < ga.size(); ++i) {
      EXPECT_EQ(ga[i].id, gb[i].id);
      EXPECT_EQ(ga[i].target, gb[i].target);
    }
  }
}

TEST(ParserTables, IndexedRowsMatchMaps) {
  const std::vector<std::string> names = {"b", "a", "E", "unused", "a"};  // duplicate text, unused name
  std::vector<ParserTables::IndexedRows> rows(3);
  rows[0] = {0, {{0, 1}, {1, std::nullopt}}, {{2, 1}}};
  rows[1] = {2, {{4, -1}}, {}};
  rows[2] = {9, {{0, 3}}, {}};  // dropped
  auto t = ParserTables::from_indexed_rows(3, names, rows);

  ActionMap action;
  action[0] = {{"b", 1}, {"a", std::nullopt}};
  action[2] = {{"a", -1}};
  action[9] = {{"b", 3}};
  GotoMap gotos;
  gotos[0] = {{"E", 1}};
  auto u = ParserTables::create(3, std::move(action), std::move(gotos));

  ASSERT_EQ(t->num_symbols(), u->num_symbols());
  EXPECT_EQ(t->symbol_id("unused"), std::nullopt);
  for (const char* n : {"E", "a", "b"}) EXPECT_EQ(t->symbol_id(n), u->symbol_id(n)) << n;
  for (uint64_t s = 0; s < 3; ++s) {
    for (uint32_t id = 0; id < 3; ++id) {
      EXPECT_EQ(t->action_entry(s, id), u->action_entry(s, id));
      EXPECT_EQ(t->goto_target(s, id), u->goto_target(s, id));
    }
  }
}

}  // namespace
}  // namespace vx
