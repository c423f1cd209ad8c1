// The stack of one parse and its Python view ParserStack.
//
// Each entry is a state with the symbol that led to it; the bottom entry is
// state 0 with the "$end" symbol. States and symbols therefore always have
// the same depth. Only the parse loop changes the stack, through the few
// operations below; Python reads the symbols through item access. Each
// operation takes exclusive access for its own moment only, and releases
// the Python values it drops after giving the access back, since releasing
// a value can run Python code that reads the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "binding/borrow.hpp"
#include "binding/error.hpp"
#include "parser/py_parsed_symbol.hpp"

namespace vx {

class ParseStack {
 public:
  struct Entry {
    uint64_t state;
    PyParsedSymbol sym;
  };

  // A stack holding the bottom entry.
  ParseStack();
  ParseStack(ParseStack&& other) noexcept;
  ParseStack& operator=(ParseStack&&) = delete;

  // --- what the loop reads (no access needed: only the loop writes) -------------
  [[nodiscard]] size_t depth() const noexcept { return entries_.size(); }
  [[nodiscard]] uint64_t top_state() const noexcept { return entries_.back().state; }
  // The state n entries below the top (0: the top).
  [[nodiscard]] uint64_t state_below(size_t n) const noexcept { return entries_[entries_.size() - 1 - n].state; }
  [[nodiscard]] const PyParsedSymbol& top_symbol() const noexcept { return entries_.back().sym; }
  // The symbol n entries below the top (0: the top).
  [[nodiscard]] const PyParsedSymbol& symbol_below(size_t n) const noexcept {
    return entries_[entries_.size() - 1 - n].sym;
  }

  // --- what the loop does ---------------------------------------------------------
  // Pushes `state` with the symbol that led to it.
  void push(uint64_t state, PyParsedSymbol&& sym);
  // Drops the top n entries (n below the depth).
  void pop(size_t n);
  // Moves the symbols of the top n entries into `out` (leftmost first) and
  // drops those entries; callbacks then see what lies below.
  void split_top(size_t n, std::vector<PyParsedSymbol>& out);
  // Reduces the top n entries to one: the first of them becomes the result
  // `name` with the end positions of the last, its value replaced by `value`
  // when that is given, and its state `target`. With n = 0 a new result
  // (line 1, position 0, value `value` or None) is pushed instead.
  void reduce_top(size_t n, const std::shared_ptr<const std::string>& name, uint64_t target, Ref value);
  // Hides the top n entries from Python (a right-hand side whose value
  // action runs); the next change shows them again or drops them.
  void hide_top(size_t n);
  // Back to the bottom entry alone (a restart).
  void reset();

  // --- what Python sees ---------------------------------------------------------
  // A copy of visible symbol i, under shared access; a negative i counts
  // from the top. IndexError "parser stack index out of range" outside.
  [[nodiscard]] Result<PyParsedSymbol> item(int64_t i);
  // The garbage collector's traverse (nothing while the loop changes the
  // stack) and clear (nothing when refused access).
  [[nodiscard]] int traverse(visitproc visit, void* arg) const;
  void clear();

 private:
  // Runs `f` on the entries under exclusive access, then releases what it
  // put in released_.
  template <class F>
  void change(F&& f);
  void check_invariant() const noexcept;

  BorrowFlag borrow_;
  std::vector<Entry> entries_;  // bottom first
  // The top hidden_ entries are a right-hand side under reduction: still
  // here, but no longer part of the stack that Python sees.
  size_t hidden_ = 0;
  std::vector<Ref> released_;  // values dropped by a change, released after it
};

// The ParserStack object: a box around the stack of one parse.
[[nodiscard]] Result<PyTypeObject*> parser_stack_type();
// A new ParserStack object that takes over `stack`.
[[nodiscard]] Result<Ref> new_parser_stack(ParseStack&& stack);
// The stack inside a ParserStack object.
[[nodiscard]] ParseStack& parse_stack_of(PyObject* obj) noexcept;

}  // namespace vx
