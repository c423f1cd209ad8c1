// The token loop's cache of the current state's entry.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lexer/state_cache.hpp"

namespace vx::lex {
namespace {

std::shared_ptr<const std::string> name(const char* text) { return std::make_shared<const std::string>(text); }

TEST(StateCache, FindsTheStateThatTheNameNames) {
  TextMap<int> table{{"INITIAL", 1}, {"S", 2}};
  StateCache<int> cache;
  auto initial = name("INITIAL");
  auto s = name("S");
  struct Step {
    const std::shared_ptr<const std::string>* name;
    int expected;  // 0: no such state
  };
  auto again = name("INITIAL");  // the same text in a new name object
  auto missing = name("T");
  const Step steps[] = {{&initial, 1}, {&initial, 1}, {&s, 2}, {&again, 1}, {&initial, 1},
                        {&missing, 0}, {&initial, 1}, {&s, 2},  {&s, 2}};
  for (const Step& step : steps) {
    int* found = cache.find(table, *step.name);
    if (step.expected == 0) {
      EXPECT_EQ(found, nullptr) << **step.name;
    } else {
      ASSERT_NE(found, nullptr) << **step.name;
      EXPECT_EQ(*found, step.expected) << **step.name;
      EXPECT_EQ(found, &table.find(**step.name)->second);
    }
  }
  // States added later do not move the entry found.
  for (int i = 0; i < 1000; ++i) table.emplace("X" + std::to_string(i), i);
  EXPECT_EQ(cache.find(table, s), &table.find("S")->second);
}

TEST(StateCache, ATableReplacedWholeIsLookedUpAfresh) {
  auto table = std::make_unique<TextMap<int>>(TextMap<int>{{"INITIAL", 1}});
  StateCache<int> cache;
  auto initial = name("INITIAL");
  ASSERT_EQ(*cache.find(*table, initial), 1);
  table = std::make_unique<TextMap<int>>(TextMap<int>{{"INITIAL", 7}});
  cache.drop();
  ASSERT_NE(cache.find(*table, initial), nullptr);
  EXPECT_EQ(*cache.find(*table, initial), 7);
  table->clear();
  cache.drop();
  EXPECT_EQ(cache.find(*table, initial), nullptr);
}

}  // namespace
}  // namespace vx::lex
