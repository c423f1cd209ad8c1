// ParserControl: errok() and restart() requests from callbacks to the parse
// that received the object as `control`; the loop polls and clears them.
#pragma once

#include <utility>

#include "binding/borrow.hpp"
#include "binding/cell.hpp"
#include "binding/error.hpp"
#include "binding/thread_bound.hpp"

namespace vx {

struct PyParserControl {
  static constexpr const char* kNativeName = "PyParserControl";
  BorrowFlag borrow;
  ThreadBound thread;
  Cell<bool> errok_requested{false};
  Cell<bool> restart_requested{false};

  [[nodiscard]] bool errok() { return errok_requested.with([](bool& b) { return b; }); }
  [[nodiscard]] bool restart() { return restart_requested.with([](bool& b) { return b; }); }
  // Clears a request; true when it was set.
  bool take_errok() { return errok_requested.with([](bool& b) { return std::exchange(b, false); }); }
  bool take_restart() { return restart_requested.with([](bool& b) { return std::exchange(b, false); }); }
};

[[nodiscard]] Result<PyTypeObject*> parser_control_type();
[[nodiscard]] bool is_parser_control(PyObject* obj) noexcept;

}  // namespace vx
