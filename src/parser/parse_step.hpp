// The parse loop's decisions, over integer states and symbol ids: which
// action a state takes on a lookahead (with the value-name fallback and the
// rules of error mode), whether a reduce entry is usable, where a shift and
// a goto lead, and how error recovery continues. Nothing here touches
// Python; the loop (py_parse_loop.cpp) does the talking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
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
};

// The action an entry value stands for: v > 0 shift, v < 0 reduce by -v,
// 0 accept.
[[nodiscard]] inline Action action_of(int32_t v) noexcept {
  if (v > 0) return {Action::Kind::Shift, v, static_cast<uint64_t>(v)};
  // -v of the minimum value does not fit in 32 bits; the reduce check refuses it.
  if (v < 0) return {Action::Kind::Reduce, v, static_cast<uint64_t>(-static_cast<int64_t>(v))};
  return {Action::Kind::Accept, 0, 0};
}

// Normal mode, first step: the entry of the lookahead's own id. `found`
// means the row holds a cell for the id; that ends the lookup, and a cell
// without a value (an explicit error) is no action. Only when the row holds
// no cell for the id (or the lookahead has no id) may the value-name
// fallback be tried.
struct OwnLookup {
  bool found;
  Action action;
};
[[nodiscard]] inline OwnLookup own_action(const ParserTables& t, uint64_t state, std::optional<uint32_t> id) noexcept {
  if (!id) return {false, Action::none()};
  std::optional<ActionEntry> cell = t.action_entry(state, *id);
  if (!cell) return {false, Action::none()};
  if (!*cell) return {true, Action::none()};
  return {true, action_of(**cell)};
}

// Normal mode, second step: the entry of the id that the lookahead's value
// names (when the value is text that names a symbol). No cell, or a cell
// without value, is no action.
[[nodiscard]] inline Action fallback_action(const ParserTables& t, uint64_t state,
                                            std::optional<uint32_t> fallback_id) noexcept {
  if (!fallback_id) return Action::none();
  std::optional<ActionEntry> cell = t.action_entry(state, *fallback_id);
  if (!cell || !*cell) return Action::none();
  return action_of(**cell);
}

// Error mode: the action for the "error" symbol. No id, no cell, a cell
// without value and accept are no action; a reduce counts only when its
// entry is not the minimum value, its production has a length and that
// length is below `depth` (the number of states on the stack).
[[nodiscard]] Action error_action(const ParserTables& t, uint64_t state, std::optional<uint32_t> error_id,
                                  std::span<const uint64_t> prod_lens, size_t depth) noexcept;

// A shift to `target` from `state`: the target must be a state of the
// tables ("Invalid shift state {} from state {}").
[[nodiscard]] Failure invalid_shift(const Action& shift, uint64_t state);
[[nodiscard]] inline Status check_shift(const ParserTables& t, const Action& shift, uint64_t state) {
  if (shift.target >= t.num_states()) [[unlikely]] return invalid_shift(shift, state);
  return ok();
}

// A reduce entry: not the minimum value, a production below the lengths of
// the three per-production lists, and a right-hand side shorter than the
// depth ("Invalid reduction {} in state {}"). Yields the length of the
// right-hand side.
struct ProductionLists {
  size_t names;
  size_t custom;
  std::span<const uint64_t> lens;
};
[[nodiscard]] Failure invalid_reduction(const Action& reduce, uint64_t state);
[[nodiscard]] inline Outcome<uint64_t> check_reduce(const Action& reduce, uint64_t state, const ProductionLists& lists,
                                                    size_t depth) {
  const uint64_t p = reduce.target;
  if (reduce.entry == std::numeric_limits<int32_t>::min() || p >= lists.names || p >= lists.custom ||
      p >= lists.lens.size() || lists.lens[p] >= depth) [[unlikely]] {
    return invalid_reduction(reduce, state);
  }
  return lists.lens[p];
}

// The goto step after a reduction: `target` is what the row of `state`
// holds for the production's left-hand side (ParserTables::goto_target; no
// value when the name has no id or the row no entry). It must be there ("No
// GOTO entry for nonterminal {} from state {}" with the quoted `lhs_name`)
// and be a state of the tables ("Invalid GOTO state {} from state {}").
[[nodiscard]] Failure missing_goto(uint64_t state, std::string_view lhs_name);
[[nodiscard]] Failure invalid_goto(uint64_t state, uint64_t target);
[[nodiscard]] inline Outcome<uint64_t> check_goto(const ParserTables& t, uint64_t state,
                                                  std::optional<uint64_t> target, std::string_view lhs_name) {
  if (!target) [[unlikely]] return missing_goto(state, lhs_name);
  if (*target >= t.num_states()) [[unlikely]] return invalid_goto(state, *target);
  return *target;
}

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
  EndOfInput,      // SyntaxError "Syntax error at EOF on line {}, pos {}"
  DiscardToken,    // the lookahead is dropped for the next token
  InsertError,     // the error symbol becomes the lookahead, the real one is set aside
  SkipAndInsert,   // the lookahead is dropped for the next token, which the error symbol then stands in for
};
// `stuck`: the insertion guard below gives the lookahead up.
[[nodiscard]] PanicStep panic_step(bool top_is_error, bool at_end, bool stuck) noexcept;

// The errorcount that an error symbol insertion and a discard set.
inline constexpr uint64_t kErrorShifts = 3;

// Insertions of the error symbol without progress before the lookahead is
// given up. The state in which "error" is shifted can be shared by several
// contexts; its reduction on the lookahead may then lead to a state with no
// action for that token, whose top symbol is not "error", so the panic step
// inserts the error symbol again at the same token, error mode pops back to
// the same shift, and so on without end. Such a round comes back to the same
// stack at every insertion. A recovery that gets somewhere instead unwinds
// the stack: it inserts the error symbol on a lower stack each time (one
// level per insertion when an unclosed construct is closed by "error" at the
// end of input, as deep as the input nests). Only insertions that reach no
// lower stack are counted, and after this many of them in a row only reading
// on (or the end of input) ends the parse.
inline constexpr uint32_t kMaxInsertions = 1000;

// Decides when the panic step gives the lookahead up instead of inserting
// the error symbol again. An insertion on a stack lower than at every
// insertion since a token was last read is progress and starts the count
// again; other insertions are counted, and the guard fires at
// kMaxInsertions of them. Once it has fired, until a token is shifted, it
// fires at the first insertion that is not progress: a long damaged tail
// then costs a few steps per token instead of kMaxInsertions. The stack can
// get lower only as often as it is deep, so every parse ends; a parse that
// ends without the guard never meets it.
class InsertionGuard {
 public:
  // A token was read: no insertion since.
  void token_read() noexcept {
    inserted_ = false;
    count_ = 0;
  }
  // A token was shifted.
  void token_shifted() noexcept { gave_up_ = false; }
  // True when the error symbol, about to be inserted on a stack `depth`
  // deep, should not be: the lookahead is to be given up.
  [[nodiscard]] bool stuck(uint64_t depth) const noexcept {
    return !progress(depth) && (gave_up_ || count_ >= kMaxInsertions);
  }
  // The error symbol was inserted on a stack `depth` deep.
  void inserted(uint64_t depth) noexcept {
    if (progress(depth)) {
      inserted_ = true;
      lowest_ = depth;
      count_ = 0;
    }
    ++count_;
  }
  // The lookahead was given up.
  void fired() noexcept { gave_up_ = true; }

 private:
  // An insertion on a stack `depth` deep would be the first since the read,
  // or on a lower stack than every one since.
  [[nodiscard]] bool progress(uint64_t depth) const noexcept { return !inserted_ || depth < lowest_; }

  bool inserted_ = false;  // an insertion since the last read
  bool gave_up_ = false;   // fired since the last shift of a token
  uint32_t count_ = 0;     // insertions since the lowest stack was reached
  uint64_t lowest_ = 0;    // the lowest stack of an insertion since the last read
};

}  // namespace vx::parse
