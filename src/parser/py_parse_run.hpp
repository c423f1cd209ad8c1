// One LRParserEngine.parse call: its options, read once by the entry
// (py_parse_entry.cpp), and its state, which lives for the call only. The
// engine itself is never changed. The run's work is split by job: the loop
// of shifts, reductions and gotos (py_parse_loop.cpp), the values of
// reductions (py_parse_values.cpp) and error recovery (py_parse_recovery.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "binding/error.hpp"
#include "parser/lookup_cache.hpp"
#include "parser/parse_step.hpp"
#include "parser/py_parse_stack.hpp"
#include "parser/py_parser_control.hpp"
#include "parser/py_parser_engine.hpp"
#include "parser/py_token_intake.hpp"
#include "reduction/py_proxy_reduction.hpp"

namespace vx {

// The arguments of parse, converted. The objects are borrowed: the call's
// arguments outlive the run.
struct ParseOptions {
  PyObject* reduce_cb = nullptr;
  PyObject* error_cb = nullptr;     // nullptr: none
  PyObject* value_funcs = nullptr;  // a list, or nullptr
  bool with_stack = false;
  bool prepared_slice = false;
  PyParserControl* control = nullptr;  // held under shared access by the entry
  parse::Style style = parse::Style::Core;
  std::optional<ProxyContext> proxy;
};

// The current input symbol with what the loop learns about it once: its
// symbol id, and (on demand) the id its text value names.
struct Lookahead {
  PyParsedSymbol sym;
  std::optional<uint32_t> id;
  enum class Fallback : uint8_t { Unknown, None, Known } fallback = Fallback::Unknown;
  uint32_t fallback_id = 0;
};

class ParseRun {
 public:
  ParseRun(PyParserEngine& engine, ParseOptions options, TokenSource source);
  ParseRun(const ParseRun&) = delete;
  ParseRun& operator=(const ParseRun&) = delete;
  ~ParseRun();

  // Reads the first lookahead and runs the loop until the parse ends.
  [[nodiscard]] Result<Ref> run();

 private:
  // What the loop does after a step of recovery.
  enum class Next : uint8_t { Continue, Return };

  // --- the loop (py_parse_loop.cpp) ---------------------------------------------
  // Makes `sym` the lookahead (its id looked up, no fallback yet).
  void set_lookahead(PyParsedSymbol sym);
  // The next token from the source becomes the lookahead.
  [[nodiscard]] Void fetch_lookahead();
  // The token object `token` (a result of error_cb) becomes the lookahead.
  [[nodiscard]] Void take_lookahead(PyObject* token);
  void lookahead_changed();
  [[nodiscard]] std::optional<uint32_t> fallback_id();
  [[nodiscard]] parse::Action next_action(uint64_t state);
  void apply_requests();
  [[nodiscard]] Void shift(const parse::Action& act, uint64_t state);
  [[nodiscard]] Void reduce(const parse::Action& act, uint64_t state);
  [[nodiscard]] Void reduce_in_place(uint64_t p, uint64_t n, Ref value);
  [[nodiscard]] Result<uint64_t> goto_target(uint64_t p, uint64_t below);
  [[nodiscard]] bool restart_requested() const;

  // --- the values of reductions (py_parse_values.cpp) -----------------------------
  // value_funcs[p] over the top n values, which stay on the stack hidden
  // from Python meanwhile. An empty Ref for None (the first value stays).
  [[nodiscard]] Result<Ref> value_action(uint64_t p, uint64_t n);
  // The record a reduction by p over rhs_ pushes, its value computed by
  // reduce_cb or the native proxy; rhs_ is used up.
  [[nodiscard]] Result<PyParsedSymbol> custom_value(uint64_t p);
  [[nodiscard]] Result<PyParsedSymbol> callback_reduction(uint64_t p, PyParsedSymbol res);

  // --- error recovery (py_parse_recovery.cpp) -----------------------------------
  // The loop's step when no action applies.
  [[nodiscard]] Result<Next> recover();
  [[nodiscard]] Result<Next> panic_step();
  [[nodiscard]] Result<Next> pop_in_error_mode();
  void insert_error_symbol();

  // --- the stack ----------------------------------------------------------------
  [[nodiscard]] ParseStack& stack() noexcept { return *stack_; }
  // The ParserStack object that callbacks receive, made on first request
  // around the live stack.
  [[nodiscard]] Result<PyObject*> stack_object();

  PyParserEngine& engine_;
  const ParseProgram& prog_;
  const ParserTables& tables_;
  const ParseOptions opt_;
  TokenSource source_;
  std::unique_ptr<parse::LookupCaches> caches_;  // the engine's, given back at the end

  ParseStack local_stack_;  // the stack until a callback needs it as an object
  Ref stack_obj_;           // the ParserStack that then holds it
  ParseStack* stack_;

  Lookahead la_;
  std::optional<Lookahead> saved_;  // the real lookahead while the error symbol stands in
  uint64_t errorcount_ = 0;
  parse::InsertionGuard guard_;
  std::vector<PyParsedSymbol> rhs_;  // scratch: the right-hand side of a callback reduction
  Ref result_;                       // set when recovery returns from parse
};

// ParserError(message) of the package.
[[nodiscard]] Error parser_error(const std::string& message);

}  // namespace vx
