// The small classes around a running parse: TokenCursor (a token source the
// parse steps natively), ParserControl (errok and restart requests from
// callbacks) and ParserStack (the live symbol stack callbacks may index).
#pragma once

#include <vector>

#include "binding/borrow.hpp"
#include "binding/cell.hpp"
#include "binding/error.hpp"
#include "binding/thread_bound.hpp"
#include "parser/py_parsed_symbol.hpp"

namespace vx {

// --- TokenCursor ----------------------------------------------------------------

struct PyTokenCursor {
  static constexpr const char* kNativeName = "PyTokenCursor";
  explicit PyTokenCursor(Ref it) : iterator(std::move(it)) {}
  BorrowFlag borrow;
  ThreadBound thread;
  Ref iterator;  // empty once the garbage collector has cleared the cursor
  Cell<bool> exhausted{false};
};

[[nodiscard]] Result<PyTypeObject*> token_cursor_type();
[[nodiscard]] bool is_token_cursor(PyObject* obj) noexcept;
// One step of the cursor, under the caller's shared access: the next item,
// an empty Ref when the iterator has ended (now or earlier), or its error.
[[nodiscard]] Result<Ref> cursor_next_item(PyTokenCursor& c);

// --- ParserControl ----------------------------------------------------------------

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

// --- ParserStack ----------------------------------------------------------------

struct PyParserStack {
  BorrowFlag borrow;
  std::vector<PyParsedSymbol> symbols;  // bottom first
  // The top `hidden` symbols are a right-hand side under reduction: still
  // owned here, but no longer part of the stack that Python sees.
  size_t hidden = 0;

  [[nodiscard]] size_t visible() const noexcept { return symbols.size() - hidden; }
};

[[nodiscard]] Result<PyTypeObject*> parser_stack_type();
// A new ParserStack holding only the bottom entry ("$end", None).
[[nodiscard]] Result<Ref> new_parser_stack();
// The bottom entry of every parse stack.
[[nodiscard]] PyParsedSymbol bottom_symbol();

}  // namespace vx
