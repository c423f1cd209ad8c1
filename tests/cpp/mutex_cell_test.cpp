#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "binding/mutex_cell.hpp"

namespace {

using vx::MutexCell;
using vx::InternalFailure;

TEST(MutexCell, HoldersOnManyThreadsTakeTurns) {
  MutexCell<std::vector<int>> cell;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cell, t] {
      for (int i = 0; i < 10000; ++i) cell.with([&](std::vector<int>& v) { v.push_back(t); });
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(cell.with([](std::vector<int>& v) { return v.size(); }), 40000u);
}

TEST(MutexCell, TryWithSkipsACellHeldElsewhere) {
  MutexCell<int> cell(1);
  std::atomic<bool> held{false}, done{false};
  std::thread holder([&] {
    cell.with([&](int&) {
      held = true;
      while (!done) std::this_thread::yield();
    });
  });
  while (!held) std::this_thread::yield();
  EXPECT_FALSE(cell.try_with([](int&) {}));
  done = true;
  holder.join();
  int seen = 0;
  EXPECT_TRUE(cell.try_with([&](int& v) { seen = v; }));
  EXPECT_EQ(seen, 1);
}

TEST(MutexCell, InterruptedHolderPoisonsAndReentryFails) {
  MutexCell<int> cell(7);
  // Entering again on the holding thread fails instead of deadlocking; the
  // failure interrupts the outer holder, which poisons the cell.
  EXPECT_THROW(cell.with([&](int&) { cell.with([](int&) {}); }), InternalFailure);
  EXPECT_TRUE(cell.poisoned());
  MutexCell<int> other(7);
  EXPECT_THROW(other.with([](int&) -> int { throw std::runtime_error("interrupted"); }), std::runtime_error);
  EXPECT_TRUE(other.poisoned());
  EXPECT_THROW(other.with([](int& v) { return v; }), InternalFailure);
  EXPECT_FALSE(other.try_with([](int&) {}));
  EXPECT_EQ(other.into_inner(), 7);
}

}  // namespace
