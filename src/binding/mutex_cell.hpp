// MutexCell<T>: a piece of an object's changing state guarded by a real
// mutex, for the objects that any thread may use and that carry no borrow
// flag.
//
// The only access is with(f): f runs with the value while the mutex is held.
// Besides the rule of Cell (f does not call into Python), f creates no Python
// object and releases no reference: a creation may run the garbage collector,
// which traverses the object, and a release may run a finaliser that enters
// it. Take what must be released out of the cell and let it go after with()
// returns. Cells of one object nest only in the order its record documents.
//
// An exception leaving f (an internal failure) poisons the cell, and every
// later with() is then an internal failure. Entering a cell that the same
// thread already holds is an internal failure too, not a deadlock.
// try_with(f) never waits: it runs f only when the mutex is free and not
// poisoned, which is what the garbage collector's traverse needs.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "common/panic.hpp"

namespace vx {

template <class T>
class MutexCell {
 public:
  MutexCell() = default;
  explicit MutexCell(T value) : value_(std::move(value)) {}
  MutexCell(const MutexCell&) = delete;
  MutexCell& operator=(const MutexCell&) = delete;

  template <class F>
  decltype(auto) with(F&& f) {
    const std::thread::id me = std::this_thread::get_id();
    if (holder_.load(std::memory_order_relaxed) == me) panic("guarded cell entered while already held");
    mutex_.lock();
    if (poisoned_.load(std::memory_order_relaxed)) {
      mutex_.unlock();
      panic("guarded cell poisoned by an earlier internal failure");
    }
    holder_.store(me, std::memory_order_relaxed);
    Holding holding{*this};
    try {
      return std::forward<F>(f)(value_);
    } catch (...) {
      poisoned_.store(true, std::memory_order_relaxed);
      throw;
    }
  }

  // Runs f and returns true, or returns false at once when the mutex is
  // busy or poisoned.
  template <class F>
  bool try_with(F&& f) {
    if (holder_.load(std::memory_order_relaxed) == std::this_thread::get_id()) return false;
    if (!mutex_.try_lock()) return false;
    std::lock_guard<std::mutex> unlock(mutex_, std::adopt_lock);
    if (poisoned_.load(std::memory_order_relaxed)) return false;
    std::forward<F>(f)(value_);
    return true;
  }

  [[nodiscard]] bool poisoned() const noexcept { return poisoned_.load(std::memory_order_relaxed); }

  // The value, taken without the mutex: only for the owner's destruction,
  // when no other holder can exist.
  [[nodiscard]] T into_inner() noexcept { return std::move(value_); }

 private:
  struct Holding {
    MutexCell& cell;
    ~Holding() {
      cell.holder_.store(std::thread::id(), std::memory_order_relaxed);
      cell.mutex_.unlock();
    }
  };

  std::mutex mutex_;
  std::atomic<bool> poisoned_{false};
  std::atomic<std::thread::id> holder_{};
  T value_{};
};

}  // namespace vx
