// Ctrl-C in native loops. A loop that can run for long without calling into
// Python (reductions over a native table, a cursor over a list, a scan of a
// long text with native rules only) would otherwise never run the
// interpreter's signal handlers. Each such loop keeps a SignalPoll and asks
// it once per step; every kEvery steps it runs the handlers, and a handler
// that raised (KeyboardInterrupt for Ctrl-C) ends the loop with its
// exception, left pending for Error::pending().
#pragma once

#include <cstdint>

#include "binding/python.hpp"

namespace vx {

class SignalPoll {
 public:
  // Steps between two checks: a check costs a few nanoseconds, a step at
  // least tens, so a thousand steps make the checks vanish beside the work,
  // and take well under a millisecond unless each step scans far (a lexer
  // rule that runs over the rest of a long text before it fails).
  static constexpr uint32_t kEvery = 1024;

  // True when a signal handler raised; its exception is pending.
  [[nodiscard]] bool interrupted() noexcept {
    if (--left_ != 0) [[likely]] return false;
    left_ = kEvery;
    return PyErr_CheckSignals() < 0;
  }

 private:
  uint32_t left_ = kEvery;
};

}  // namespace vx
