// The state of one LRParserEngine.parse call, shared by the loop
// (py_parse_loop.cpp) and error recovery (py_parse_recovery.cpp). All of it
// lives for one call; the engine itself is never changed.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "binding/borrow.hpp"
#include "binding/error.hpp"
#include "parser/parse_step.hpp"
#include "parser/py_parse_proxy.hpp"
#include "parser/py_parser_engine.hpp"
#include "parser/py_parser_objects.hpp"
#include "parser/py_token_intake.hpp"

namespace vx {

// The current input symbol with what the loop learns about it once: its
// symbol id, and (on demand) the id its text value names.
struct Lookahead {
  PyParsedSymbol sym;
  std::optional<uint32_t> id;
  enum class Fallback : uint8_t { Unknown, None, Known } fallback = Fallback::Unknown;
  uint32_t fallback_id = 0;
};

// What the loop does after a step.
enum class Next : uint8_t { Continue, Return };

struct ParseRun {
  ParseRun(const ParseProgram& program, TokenSource source) : prog(program), tables(*program.tables), source(std::move(source)) {}

  const ParseProgram& prog;
  const ParserTables& tables;
  TokenSource source;

  // Callbacks and options.
  PyObject* reduce_cb = nullptr;
  PyObject* error_cb = nullptr;      // nullptr: none
  PyObject* value_funcs = nullptr;   // a list, or nullptr
  bool with_stack = false;
  bool prepared_slice = false;
  PyParserControl* control = nullptr;
  parse::Style style = parse::Style::Core;
  std::optional<ProxyContext> proxy;

  // Parse state.
  std::vector<uint64_t> states{0};
  Ref stack_obj;                  // the ParserStack
  PyParserStack* stack = nullptr;
  Lookahead la;
  std::optional<Lookahead> saved;  // the real lookahead while the error symbol stands in
  uint64_t errorcount = 0;
  uint32_t insertions = 0;  // error symbols inserted since a token was last read
  std::optional<uint32_t> error_id;
  parse::SymbolIdCache ids;
  parse::LookupCache<parse::OwnLookup> actions;    // own_action by (state, id)
  parse::LookupCache<std::optional<uint64_t>> gotos;  // goto targets by (state, id)
  std::vector<PyParsedSymbol> rhs;  // scratch: the right-hand side of the reduction under way
  std::vector<Ref> dropped;         // scratch: values to release once the stack is given back
  Ref result;                       // set when the step returns from parse

  [[nodiscard]] size_t depth() const noexcept { return states.size(); }

  // Makes `sym` the lookahead (its id looked up, no fallback yet).
  void set_lookahead(PyParsedSymbol sym);
  // The next token from the source becomes the lookahead.
  [[nodiscard]] Void fetch_lookahead();
  // The token object `token` (a result of error_cb) becomes the lookahead.
  [[nodiscard]] Void take_lookahead(PyObject* token);
  // What is known of the lookahead, found again for a new record.
  void lookahead_changed();

  // Momentary exclusive access to the stack's symbols for one native step.
  template <class F>
  decltype(auto) with_symbols(F&& f) {
    if (!stack->borrow.try_exclusive()) panic("parser stack in use during a native step");
    ExclusiveGuard guard(&stack->borrow);
    return std::forward<F>(f)(stack->symbols);
  }

  // Drops the top n symbols of the stack (a right-hand side, hidden or
  // not); their values are released after the stack was given back.
  void drop_top(uint64_t n);

  // The loop's step when no action applies (py_parse_recovery.cpp).
  [[nodiscard]] Result<Next> recover();
};

// ParserError(message) of the package.
[[nodiscard]] Error parser_error(const std::string& message);

}  // namespace vx
