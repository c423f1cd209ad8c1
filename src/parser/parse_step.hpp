// The parse loop's decisions, over integer states and symbol ids: which
// action a state takes on a lookahead (with the value-name fallback and the
// rules of error mode), whether a reduce entry is usable, where a shift and
// a goto lead, and how error recovery continues. Nothing here touches
// Python; the loop (py_parse_loop.cpp) does the talking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/outcome.hpp"
#include "parser/tables.hpp"

namespace vx::parse {

// An action entry read for the loop: shift to `target`, reduce by
// production `target`, accept, or no action at all. `entry` is the table's
// own value, which messages quote.
struct Action {
  enum class Kind : uint8_t { Shift, Reduce, Accept, None };
  Kind kind = Kind::None;
  int32_t entry = 0;
  uint64_t target = 0;  // the state of a shift, the production of a reduce

  static Action none() { return {}; }
  [[nodiscard]] bool is_none() const noexcept { return kind == Kind::None; }
};

// The action an entry value stands for: v > 0 shift, v < 0 reduce by -v,
// 0 accept.
[[nodiscard]] Action action_of(int32_t v) noexcept;

// Normal mode, first step: the entry of the lookahead's own id. `found`
// means the row holds a cell for the id; that ends the lookup, and a cell
// without a value (an explicit error) is no action. Only when the row holds
// no cell for the id (or the lookahead has no id) may the value-name
// fallback be tried.
struct OwnLookup {
  bool found;
  Action action;
};
[[nodiscard]] OwnLookup own_action(const ParserTables& t, uint64_t state, std::optional<uint32_t> id) noexcept;

// Normal mode, second step: the entry of the id that the lookahead's value
// names (when the value is text that names a symbol). No cell, or a cell
// without value, is no action.
[[nodiscard]] Action fallback_action(const ParserTables& t, uint64_t state,
                                     std::optional<uint32_t> fallback_id) noexcept;

// Error mode: the action for the "error" symbol. No id, no cell, a cell
// without value and accept are no action; a reduce counts only when its
// entry is not the minimum value, its production has a length and that
// length is below `depth` (the number of states on the stack).
[[nodiscard]] Action error_action(const ParserTables& t, uint64_t state, std::optional<uint32_t> error_id,
                                  std::span<const uint64_t> prod_lens, size_t depth) noexcept;

// A shift to `target` from `state`: the target must be a state of the
// tables ("Invalid shift state {} from state {}").
[[nodiscard]] Status check_shift(const ParserTables& t, const Action& shift, uint64_t state);

// A reduce entry: not the minimum value, a production below the lengths of
// the three per-production lists, and a right-hand side shorter than the
// depth ("Invalid reduction {} in state {}"). Yields the length of the
// right-hand side.
struct ProductionLists {
  size_t names;
  size_t custom;
  std::span<const uint64_t> lens;
};
[[nodiscard]] Outcome<uint64_t> check_reduce(const Action& reduce, uint64_t state, const ProductionLists& lists,
                                             size_t depth);

// The goto step after a reduction: the target of `lhs_id` in the row of
// `state` ("No GOTO entry for nonterminal {} from state {}" with the quoted
// `lhs_name`, "Invalid GOTO state {} from state {}").
[[nodiscard]] Outcome<uint64_t> goto_state(const ParserTables& t, uint64_t state, std::optional<uint32_t> lhs_id,
                                           std::string_view lhs_name);

// --- error recovery ---------------------------------------------------------

enum class Style : uint8_t { Core, Vex, Mox };

// "core", "vex" or "mox", compared byte by byte; anything else has no style.
[[nodiscard]] std::optional<Style> style_named(std::string_view name) noexcept;

// What follows the error callback.
enum class AfterCallback : uint8_t {
  Resume,        // the callback's result (or the next token) becomes the lookahead; errorcount 0
  ReturnResult,  // parse returns the callback's result
  ReturnNone,    // parse returns None
  Discard,       // the lookahead is replaced by the next token; errorcount 3
  Panic,         // the panic step
};
struct CallbackReport {
  bool errok;          // errok() was requested
  bool restart;        // restart() was requested
  bool has_result;     // the callback returned something other than None
  bool at_end;         // the lookahead's type is "$end"
};
[[nodiscard]] AfterCallback after_callback(Style style, const CallbackReport& r) noexcept;

// The panic step.
enum class PanicStep : uint8_t {
  EndOfInput,    // SyntaxError "Syntax error at EOF on line {}, pos {}"
  DiscardToken,  // the lookahead is dropped for the next token
  InsertError,   // the error symbol becomes the lookahead, the real one is set aside
};
[[nodiscard]] PanicStep panic_step(bool top_is_error, bool at_end) noexcept;

// The errorcount that an error symbol insertion and a discard set.
inline constexpr uint64_t kErrorShifts = 3;

}  // namespace vx::parse
