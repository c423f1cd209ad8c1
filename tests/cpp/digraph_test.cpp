// The ordered digraph traversal on its own.
#include <gtest/gtest.h>

#include <vector>

#include "grammar/digraph.hpp"

namespace vx {
namespace {

using Lists = std::vector<std::vector<uint32_t>>;

Lists run(const Lists& initial, const Lists& succ, size_t universe) {
  return ordered_digraph(
      initial.size(), universe, [&](uint32_t x) { return initial[x]; },
      [&](uint32_t x) -> const std::vector<uint32_t>& { return succ[x]; });
}

TEST(OrderedDigraph, ComponentTakesRootListInMergeOrder) {
  // 0 -> 1 -> 2 -> 0 is one component; 1 -> 3 hangs off it.
  const Lists initial = {{10}, {11}, {12}, {13}};
  const Lists succ = {{1}, {2, 3}, {0}, {}};
  const Lists expected = {{10, 11, 12, 13}, {10, 11, 12, 13}, {10, 11, 12, 13}, {13}};
  EXPECT_EQ(run(initial, succ, 20), expected);
}

TEST(OrderedDigraph, UnionsKeepFirstPositions) {
  // Node 0 merges 1 then 2; shared members stay where they first appeared.
  const Lists initial = {{5, 3}, {3, 7, 1}, {1, 9, 5, 7}};
  const Lists succ = {{1, 2}, {}, {}};
  const Lists expected = {{5, 3, 7, 1, 9}, {3, 7, 1}, {1, 9, 5, 7}};
  EXPECT_EQ(run(initial, succ, 10), expected);
}

TEST(OrderedDigraph, SelfLoopsDuplicatesAndFinishedSuccessors) {
  const Lists initial = {{1}, {2}, {3}};
  const Lists succ = {{0, 1, 1}, {1}, {1, 0}};  // node 2 sees finished nodes only
  const Lists expected = {{1, 2}, {2}, {3, 2, 1}};
  EXPECT_EQ(run(initial, succ, 4), expected);
}

TEST(OrderedDigraph, DeepChainNeedsNoRecursion) {
  // 0 -> 1 -> ... -> n-1 -> 0: one component a million nodes deep.
  const size_t n = 1'000'000;
  Lists initial(n), succ(n);
  for (uint32_t i = 0; i < n; ++i) {
    initial[i] = {i % 3};
    succ[i] = {static_cast<uint32_t>((i + 1) % n)};
  }
  const Lists out = run(initial, succ, 3);
  const std::vector<uint32_t> all = {0, 1, 2};
  EXPECT_EQ(out.front(), all);
  EXPECT_EQ(out.back(), all);
  EXPECT_EQ(out[n / 2], all);
}

}  // namespace
}  // namespace vx
