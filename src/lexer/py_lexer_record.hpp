// The record behind the Python class LexerEngine: its state table with the
// cached scan plans, the input, the state stack and the configuration, and
// the operations on them that the methods and the token loop share.
//
// Access discipline. Every method takes only shared access to the engine
// and changes it through its cells (binding/cell.hpp), but for the plain
// numbers (the position, line number, length and input revision), which are
// read and written as they are. A cell is entered only for the few steps
// that read or replace its field and never while Python code runs, so any
// callback of a scan may call any method of the same engine, token()
// included. Python objects taken out of a cell are released after the cell
// is left.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "binding/borrow.hpp"
#include "binding/cell.hpp"
#include "binding/error.hpp"
#include "binding/thread_bound.hpp"
#include "common/text.hpp"
#include "lexer/input_text.hpp"
#include "lexer/scan_plan.hpp"
#include "lexer/state_cache.hpp"

namespace vx::lex {

// --- records -------------------------------------------------------------------

// One lexer rule, immutable once added. `match` is the bound `match` method
// of the rule's compiled Python pattern: the matcher of a Python rule, and
// the fallback of a native rule for input its expression may not serve.
struct CompiledRule : RuleCore {
  std::shared_ptr<const std::string> name;
  Ref func;  // null when the rule has no function
  Ref match;
};
using RulePtr = std::shared_ptr<const CompiledRule>;
using Plan = ScanPlan<RulePtr>;
using Step = ScanStep<RulePtr>;

struct StateConfig {
  std::string kind;
  std::vector<RulePtr> rules;  // descending priority, insertion order among equals
  std::vector<uint32_t> ignore;
  Ref error_func;  // null when the state has none
  std::shared_ptr<const Plan> plans[2];  // [0] input that is not pure ASCII, [1] pure ASCII
};

using StateTable = TextMap<StateConfig>;

// The name object of "INITIAL" that a new engine and every new input start
// with, shared by all engines.
[[nodiscard]] const std::shared_ptr<const std::string>& initial_state_name();

inline StateTable initial_states() {
  StateTable t;
  t.emplace("INITIAL", StateConfig{"inclusive", {}, {}, {}, {}});
  return t;
}

struct PyLexerEngine {
  static constexpr const char* kNativeName = "PyLexerEngine";
  BorrowFlag borrow;
  ThreadBound thread;
  Cell<std::shared_ptr<const InputText>> input{std::make_shared<const InputText>()};
  Cell<std::vector<std::string>> state_stack;
  Cell<Ref> data;
  Cell<Ref> callback_owner;
  Cell<StateTable> states{initial_states()};
  uint64_t length = 0;
  uint64_t pos = 0;
  uint64_t lineno = 1;
  Cell<std::shared_ptr<const std::string>> current_state{initial_state_name()};
  Cell<std::unordered_set<uint32_t>> literals;
  uint64_t input_revision = 0;

  // Not part of the engine's visible state: the token loop's look-up of the
  // current state (dropped when the state table is replaced), and the type
  // names of ASCII literal tokens, made once.
  StateCache<StateConfig> state_cache;
  std::array<std::shared_ptr<const std::string>, 128> ascii_literal_names;
};

[[nodiscard]] Error undefined_state(std::string_view name);
// The callback owner, or None.
[[nodiscard]] Result<Ref> owner_of(PyLexerEngine& e);
[[nodiscard]] std::shared_ptr<const std::string> current_state_of(PyLexerEngine& e);

// Drops every cached scan plan.
void invalidate_plans(PyLexerEngine& e);
// Defines state `name` or changes its kind; the kind must be "inclusive" or "exclusive".
[[nodiscard]] Void define_state(PyLexerEngine& e, const std::string& name, const std::string& kind);
[[nodiscard]] bool state_defined(PyLexerEngine& e, std::string_view name);
// Defines `name` as an inclusive state unless it exists.
void ensure_state(PyLexerEngine& e, const std::string& name);
[[nodiscard]] Void begin_state(PyLexerEngine& e, const std::string& name);

// Installs `d` (a str) as the new input. Everything that can fail happens
// before any field is written. Returns the previous data object, which the
// caller releases after the whole operation.
[[nodiscard]] Result<Ref> replace_input(PyLexerEngine& e, PyObject* d);

// Builds (or reads from the cache) the plan of state `name` for input whose
// ASCII flag is `ascii`. The state must be defined.
[[nodiscard]] std::shared_ptr<const Plan> plan_for(PyLexerEngine& e, const std::string& name, bool ascii);

// What the token loop does with a result of an error function that left the
// position and the input as they were: `token()` returns it (its caller sees
// it and can move on); `tokenize()` would collect it for ever, so there it
// is the illegal character it stands for.
enum class StalledErrorResult { Return, Refuse };

// The next token of the input, or an empty Ref at the end of the input.
[[nodiscard]] Result<Ref> next_token(PyLexerEngine& e, StalledErrorResult stalled = StalledErrorResult::Return);

}  // namespace vx::lex
