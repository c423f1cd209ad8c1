// The Python class LexerEngine: lexer states and the state stack, rules,
// ignore sets, literals and error functions, the input text, and the token
// loop.
//
// Access discipline. Every method takes only shared access to the engine
// and changes it through its cells (binding/cell.hpp). A cell is entered
// only for the few steps that read or replace its field and never while
// Python code runs, so any callback of a scan may call any method of the
// same engine, token() included. Python objects taken out of a cell are
// released after the cell is left.
#include "lexer/py_lexer_engine.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "binding/args.hpp"
#include "binding/cell.hpp"
#include "binding/imports.hpp"
#include "binding/objects.hpp"
#include "binding/properties.hpp"
#include "binding/strings.hpp"
#include "binding/thread_bound.hpp"
#include "common/text.hpp"
#include "lexer/input_text.hpp"
#include "lexer/py_token.hpp"
#include "lexer/scan_plan.hpp"

namespace vx {
namespace {

constexpr const char* kNativeName = "PyLexerEngine";
constexpr uint64_t kMaxCounter = std::numeric_limits<uint64_t>::max();

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

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using StateTable = std::unordered_map<std::string, StateConfig, NameHash, std::equal_to<>>;

StateTable initial_states() {
  StateTable t;
  t.emplace("INITIAL", StateConfig{"inclusive", {}, {}, {}, {}});
  return t;
}

struct PyLexerEngine {
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
  Cell<std::shared_ptr<const std::string>> current_state{std::make_shared<const std::string>("INITIAL")};
  Cell<std::unordered_set<uint32_t>> literals;
  uint64_t input_revision = 0;

  // Not part of the engine's visible state: the last state looked up by the
  // token loop (keyed by the identity of the current state's name, which
  // changes whenever the current state does; table nodes never move, and
  // the table is only ever replaced whole, which bumps the generation), and
  // the type names of ASCII literal tokens, made once.
  std::shared_ptr<const std::string> cached_state_name;
  StateConfig* cached_state = nullptr;
  uint64_t cached_generation = 0;
  uint64_t table_generation = 0;
  std::array<std::shared_ptr<const std::string>, 128> ascii_literal_names;
};

// The state named `name` (the engine's current-state string) in `t`, or
// nullptr; call inside the state table's cell.
StateConfig* find_current_state(PyLexerEngine& e, StateTable& t, const std::shared_ptr<const std::string>& name) {
  if (e.cached_state && e.cached_state_name == name && e.cached_generation == e.table_generation) {
    return e.cached_state;
  }
  auto it = t.find(*name);
  if (it == t.end()) return nullptr;
  e.cached_state_name = name;
  e.cached_state = &it->second;
  e.cached_generation = e.table_generation;
  return e.cached_state;
}

TypeCell g_engine_type;

PyLexerEngine& rec(PyObject* self) { return unbox<PyLexerEngine>(self); }

// The thread check, then shared access for the rest of the call.
Result<SharedGuard> enter(PyObject* self) {
  PyLexerEngine& e = rec(self);
  e.thread.check(kNativeName);
  return borrow_shared(e.borrow);
}

Error undefined_state(std::string_view name) {
  return Error::make(PyExc_ValueError, "Undefined lexer state " + quote_name(name));
}

Result<Ref> owner_of(PyLexerEngine& e) {
  Ref owner = e.callback_owner.with([](Ref& o) { return o.share(); });
  return owner ? std::move(owner) : Ref::none();
}

std::shared_ptr<const std::string> current_state_of(PyLexerEngine& e) {
  return e.current_state.with([](auto& s) { return s; });
}

// --- states ----------------------------------------------------------------------

void invalidate_plans(PyLexerEngine& e) {
  // The plans die after the cell is left: a plan's rules hold Python objects.
  std::vector<std::shared_ptr<const Plan>> dropped;
  e.states.with([&](StateTable& t) {
    for (auto& [name, st] : t) {
      for (auto& slot : st.plans) {
        if (slot) dropped.push_back(std::move(slot));
        slot.reset();
      }
    }
  });
}

Void define_state(PyLexerEngine& e, const std::string& name, const std::string& kind) {
  if (kind != "inclusive" && kind != "exclusive") {
    return Error::make(PyExc_ValueError, "State kind must be 'inclusive' or 'exclusive', got " + quote_name(kind));
  }
  e.states.with([&](StateTable& t) {
    auto it = t.find(name);
    if (it != t.end()) {
      it->second.kind = kind;
    } else {
      t.emplace(name, StateConfig{kind, {}, {}, {}, {}});
    }
  });
  invalidate_plans(e);
  return ok();
}

bool state_defined(PyLexerEngine& e, std::string_view name) {
  return e.states.with([&](StateTable& t) { return t.find(name) != t.end(); });
}

void ensure_state(PyLexerEngine& e, const std::string& name) {
  if (!state_defined(e, name)) (void)define_state(e, name, "inclusive");
}

Void begin_state(PyLexerEngine& e, const std::string& name) {
  if (!state_defined(e, name)) return undefined_state(name);
  auto text = std::make_shared<const std::string>(name);
  e.current_state.with([&](auto& s) { s = std::move(text); });
  return ok();
}

// --- input -------------------------------------------------------------------------

// Installs `d` (a str) as the new input. Everything that can fail happens
// before any field is written. Returns the previous data object, which the
// caller releases after the whole operation.
Result<Ref> replace_input(PyLexerEngine& e, PyObject* d) {
  Ref data = Ref::borrow(d);
  std::shared_ptr<const InputText> text;
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(d, &size)) {
    text = std::make_shared<const InputText>(InputText::from_utf8(std::string(utf8, static_cast<size_t>(size))));
  } else {
    Error failure = Error::pending();
    if (!failure.matches(PyExc_UnicodeEncodeError)) return failure;
    VX_TRY(auto cps, string_codepoints(d));
    text = std::make_shared<const InputText>(InputText::from_code_points(std::move(cps)));
  }
  const uint64_t length = text->length();
  std::shared_ptr<const InputText> old_text = e.input.with([&](auto& in) { return std::exchange(in, std::move(text)); });
  e.length = length;
  Ref old = e.data.with([&](Ref& r) { return std::exchange(r, std::move(data)); });
  e.pos = 0;
  e.lineno = 1;
  auto initial = std::make_shared<const std::string>("INITIAL");
  e.current_state.with([&](auto& s) { s = std::move(initial); });
  std::vector<std::string> old_stack = e.state_stack.with([](auto& st) { return std::exchange(st, {}); });
  e.input_revision += 1;
  return old;
}

Void check_str(PyObject* obj, const char* note) {
  if (!PyUnicode_Check(obj)) return std::move(cast_error(obj, "str")).with_argument_note(note);
  return ok();
}

// --- the token loop -------------------------------------------------------------------

// Builds (or reads from the cache) the plan of state `name` for input whose
// ASCII flag is `ascii`. The state must be defined.
std::shared_ptr<const Plan> plan_for(PyLexerEngine& e, const std::string& name, bool ascii) {
  const int slot = ascii ? 1 : 0;
  std::vector<RulePtr> merged;
  bool cached = false;
  std::shared_ptr<const Plan> plan = e.states.with([&](StateTable& t) -> std::shared_ptr<const Plan> {
    auto it = t.find(name);
    if (it == t.end()) panic("scan plan of an undefined lexer state");
    if (it->second.plans[slot]) {
      cached = true;
      return it->second.plans[slot];
    }
    const StateConfig& st = it->second;
    auto initial = t.find(std::string_view("INITIAL"));
    if (merges_initial_rules(name, st.kind, initial != t.end())) {
      merged = merge_rule_lists<RulePtr>(initial->second.rules, st.rules);
    } else {
      merged = st.rules;
    }
    return nullptr;
  });
  if (cached) return plan;
  plan = std::make_shared<const Plan>(build_scan_plan<RulePtr>(merged, ascii));
  std::shared_ptr<const Plan> replaced = e.states.with([&](StateTable& t) {
    auto it = t.find(name);
    if (it == t.end()) return std::shared_ptr<const Plan>();
    return std::exchange(it->second.plans[slot], plan);
  });
  return plan;
}

// Raises LexError(message, data[pos:length], pos): the input is sliced
// before the package module is imported, on every path.
Result<Ref> raise_lex_error(const std::string& message, PyObject* data, uint64_t pos, uint64_t length) {
  VX_TRY(Ref rest, checked(PySequence_GetSlice(data, static_cast<Py_ssize_t>(pos), static_cast<Py_ssize_t>(length))));
  VX_TRY(Ref cls, import_attr("vexlor.core.lexer_engine", "LexError"));
  VX_TRY(Ref msg, py_str(message));
  VX_TRY(Ref position, py_int(pos));
  VX_TRY(Ref exc, checked(PyObject_CallFunctionObjArgs(cls.get(), msg.get(), rest.get(), position.get(), nullptr)));
  return Error::from_returned(std::move(exc));
}

// One match found by a scan step: the rule, its end position and the
// matched text object.
struct Candidate {
  RulePtr rule;
  uint64_t end;
  Ref value;
};

// The next token of the input, or an empty Ref at the end of the input.
Result<Ref> next_token(PyLexerEngine& e) {
  for (;;) {
    // 1. End of input.
    const uint64_t length = e.length;
    if (e.pos >= length) return Ref();

    // 2. The current state, 3. the characters it ignores, and 4. the scan's
    // own snapshots: the state's error function and cached plan, the input.
    std::shared_ptr<const std::string> state_name = current_state_of(e);
    std::shared_ptr<const InputText> input = e.input.with([](auto& in) { return in; });
    const bool ascii = input->is_ascii();
    bool defined = true;
    Ref error_func;
    std::shared_ptr<const Plan> plan;
    Outcome<IgnoreSkip> skipped = e.states.with([&](StateTable& t) -> Outcome<IgnoreSkip> {
      StateConfig* st = find_current_state(e, t, state_name);
      if (!st) {
        defined = false;
        return IgnoreSkip{0, 0, false};
      }
      error_func = st->error_func.share();
      plan = st->plans[ascii ? 1 : 0];
      return skip_ignored(*input, e.pos, e.lineno, st->ignore);
    });
    if (!defined) return undefined_state(*state_name);
    if (!skipped.ok()) return Error(std::move(skipped).failure());
    e.pos = skipped->pos;
    e.lineno = skipped->lineno;
    if (skipped->at_end) return Ref();
    const uint64_t pos = skipped->pos;
    const uint64_t lineno = skipped->lineno;

    const std::string& text = input->utf8();
    const size_t byte_pos = input->byte_offset(pos);
    const char32_t cp = input->code_point(pos);
    const bool utf8 = input->text_is_utf8();
    Ref data = e.data.with([](Ref& r) { return r.share(); });
    if (!data) panic("lexer input object missing below the input length");
    const uint64_t revision = e.input_revision;
    if (!plan) plan = plan_for(e, *state_name, ascii);

    // 5. The plan's steps, in order; the first match wins.
    std::optional<Candidate> candidate;
    bool restart = false;
    auto try_python = [&](const RulePtr& rule) -> Void {
      if (utf8 && !rule->prefix.empty() && !prefix_fits(text, byte_pos, rule->prefix)) return ok();
      VX_TRY(Ref position, py_int(pos));
      VX_TRY(Ref m, checked(PyObject_CallFunctionObjArgs(rule->match.get(), data.get(), position.get(), nullptr)));
      if (m.get() != Py_None) {
        VX_TRY(Ref end_obj, checked(PyObject_CallMethod(m.get(), "end", nullptr)));
        VX_TRY(uint64_t end, to_u64(end_obj.get(), ""));
        VX_TRY(Ref value, checked(PyObject_CallMethod(m.get(), "group", "i", 0)));
        candidate = Candidate{rule, end, std::move(value)};
      }
      // A match method that moved the scan's ground abandons the scan.
      if (e.input_revision != revision || e.pos != pos || *current_state_of(e) != *state_name) {
        candidate.reset();
        restart = true;
      }
      return ok();
    };
    for (const Step& step : plan->steps) {
      if (step.kind == Step::Kind::Group && utf8) {
        if (auto m = match_group_step(*step.group, *input, pos, byte_pos)) {
          VX_TRY(Ref value, py_str(std::string_view(text).substr(byte_pos, m->end_byte - byte_pos)));
          candidate = Candidate{step.rules[m->rule], m->end_pos, std::move(value)};
          break;
        }
        continue;
      }
      for (const RulePtr& rule : step.rules) {
        VX_CHECK(try_python(rule));
        if (restart || candidate) break;
      }
      if (restart || candidate) break;
    }
    if (restart) continue;

    // 6. A rule matched.
    if (candidate) {
      if (candidate->end == pos) {
        return raise_lex_error(
            "Rule " + quote_name(*candidate->rule->name) + " matched an empty string at pos " + std::to_string(pos),
            data.get(), pos, length);
      }
      e.pos = candidate->end;
      VX_TRY(Ref owner, owner_of(e));
      VX_TRY(Ref tok, create_token(candidate->rule->name, std::move(candidate->value), std::move(owner), lineno, pos,
                                   candidate->end));
      if (!candidate->rule->func) return tok;
      VX_TRY(Ref result, checked(PyObject_CallOneArg(candidate->rule->func.get(), tok.get())));
      if (result.get() != Py_None) return result;
      continue;  // the token is dropped; scan on from the advanced position
    }

    // 7. A literal character.
    const bool literal = e.literals.with([&](auto& set) { return set.count(cp) != 0; });
    if (literal) {
      e.pos = pos + 1;
      if (cp < 0xD800 || cp > 0xDFFF) {
        VX_TRY(Ref owner, owner_of(e));
        VX_TRY(Ref value, checked(PyUnicode_FromOrdinal(static_cast<int>(cp))));
        std::shared_ptr<const std::string> name;
        if (cp < 128) {
          auto& slot = e.ascii_literal_names[cp];
          if (!slot) slot = std::make_shared<const std::string>(1, static_cast<char>(cp));
          name = slot;
        } else {
          std::string ch;
          append_utf8(ch, cp);
          name = std::make_shared<const std::string>(std::move(ch));
        }
        return create_token(std::move(name), std::move(value), std::move(owner), lineno, pos, pos + 1);
      }
      VX_TRY(Ref chr, import_attr("builtins", "chr"));
      VX_TRY(Ref code, py_int(cp));
      VX_TRY(Ref c, checked(PyObject_CallOneArg(chr.get(), code.get())));
      VX_TRY(Ref cls, import_attr("vexlor.core.tokens", "Token"));
      VX_TRY(Ref owner, owner_of(e));  // read when it is used: the import may run Python code
      VX_TRY(Ref line, py_int(lineno));
      VX_TRY(Ref start, py_int(pos));
      VX_TRY(Ref stop, py_int(pos + 1));
      return checked(PyObject_CallFunctionObjArgs(cls.get(), c.get(), c.get(), line.get(), start.get(), stop.get(),
                                                  owner.get(), nullptr));
    }

    // 8. The state's error function.
    if (error_func) {
      VX_TRY(Ref cls, import_attr("vexlor.core.tokens", "_LazyErrorToken"));
      VX_TRY(Ref owner, owner_of(e));
      VX_TRY(Ref start, py_int(pos));
      VX_TRY(Ref line, py_int(lineno));
      VX_TRY(Ref len, py_int(length));
      VX_TRY(Ref err_tok, checked(PyObject_CallFunctionObjArgs(cls.get(), data.get(), start.get(), line.get(),
                                                               owner.get(), len.get(), nullptr)));
      VX_TRY(Ref result, checked(PyObject_CallOneArg(error_func.get(), err_tok.get())));
      if (result.get() != Py_None) return result;
      if (e.input_revision == revision && e.pos == pos) e.pos = pos + 1;
      continue;
    }

    // 9. Nothing covers the character.
    return raise_lex_error("Illegal character " + quote_char(cp) + " at line " + std::to_string(lineno) +
                               ", pos " + std::to_string(pos),
                           data.get(), pos, length);
  }
}

// --- methods -------------------------------------------------------------------------

#define VX_ENGINE_METHOD(fn)                                                                      \
  PyObject* fn(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {    \
    return boundary([&]() -> Result<Ref> { return fn##_impl(self, args, PyVectorcall_NARGS(nargsf), kwnames); }); \
  }

constexpr const char* kAddStateNames[] = {"name", "kind"};
constexpr Signature kAddState{.function = "LexerEngine.add_state", .names = kAddStateNames, .count = 2,
                              .positional = 2, .required_positional = 1};

Result<Ref> add_state_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[2];
  VX_CHECK(bind_args(kAddState, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_TRY(std::string name, to_utf8(a[0], "name"));
  std::string kind = "inclusive";
  if (a[1]) {
    VX_TRY(kind, to_utf8(a[1], "kind"));
  }
  VX_CHECK(define_state(rec(self), name, kind));
  return Ref::none();
}
VX_ENGINE_METHOD(add_state)

constexpr const char* kStateNames[] = {"state"};
constexpr Signature kBegin{.function = "LexerEngine.begin", .names = kStateNames, .count = 1, .positional = 1,
                           .required_positional = 1};
constexpr Signature kPush{.function = "LexerEngine.push_state", .names = kStateNames, .count = 1, .positional = 1,
                          .required_positional = 1};

Result<Ref> begin_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[1];
  VX_CHECK(bind_args(kBegin, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_TRY(std::string state, to_utf8(a[0], "state"));
  VX_CHECK(begin_state(rec(self), state));
  return Ref::none();
}
VX_ENGINE_METHOD(begin)

Result<Ref> push_state_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[1];
  VX_CHECK(bind_args(kPush, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_TRY(std::string state, to_utf8(a[0], "state"));
  PyLexerEngine& e = rec(self);
  if (!state_defined(e, state)) return undefined_state(state);
  std::string current = *current_state_of(e);
  e.state_stack.with([&](auto& st) { st.push_back(std::move(current)); });
  VX_CHECK(begin_state(e, state));
  return Ref::none();
}
VX_ENGINE_METHOD(push_state)

PyObject* pop_state(PyObject* self, PyObject*) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, enter(self));
    PyLexerEngine& e = rec(self);
    std::optional<std::string> top = e.state_stack.with([](auto& st) -> std::optional<std::string> {
      if (st.empty()) return std::nullopt;
      std::string t = std::move(st.back());
      st.pop_back();
      return t;
    });
    if (!top) return Error::make(PyExc_ValueError, "State stack is empty");
    VX_CHECK(begin_state(e, *top));
    return Ref::none();
  });
}

constexpr const char* kAddRuleNames[] = {"state", "name", "pattern", "func", "priority", "flags", "compiled"};
constexpr Signature kAddRule{.function = "LexerEngine.add_rule", .names = kAddRuleNames, .count = 7, .positional = 6,
                             .required_positional = 3};

struct Translation {
  std::optional<std::string> native;
  bool ascii_only;
  std::string prefix;
};

Result<Translation> translate(PyObject* pattern, PyObject* flags, PyObject* compiled) {
  VX_TRY(Ref fn, import_attr("vexlor.core.regex_support", "native_pattern"));
  VX_TRY(Ref res, checked(PyObject_CallFunctionObjArgs(fn.get(), pattern, flags, compiled, nullptr)));
  VX_CHECK(check_tuple(res.get(), 3, ""));
  Translation t;
  PyObject* item0 = PyTuple_GET_ITEM(res.get(), 0);
  if (item0 != Py_None) {
    VX_TRY(std::string s, to_utf8(item0, ""));
    t.native = std::move(s);
  }
  VX_TRY(t.ascii_only, to_bool(PyTuple_GET_ITEM(res.get(), 1), ""));
  VX_TRY(t.prefix, to_utf8(PyTuple_GET_ITEM(res.get(), 2), ""));
  return t;
}

Result<Ref> add_rule_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[7];
  VX_CHECK(bind_args(kAddRule, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_TRY(std::string state, to_utf8(a[0], "state"));
  VX_TRY(auto name, to_shared_text(a[1], "name"));
  VX_CHECK(check_str(a[2], "pattern"));
  PyObject* pattern = a[2];
  Ref func = (a[3] && a[3] != Py_None) ? Ref::borrow(a[3]) : Ref();
  int32_t priority = 0, flags = 0;
  if (a[4]) {
    VX_TRY(priority, to_i32(a[4], "priority"));
  }
  if (a[5]) {
    VX_TRY(flags, to_i32(a[5], "flags"));
  }
  // Every call into Python comes before the engine is touched.
  VX_TRY(Ref flags_obj, py_int_signed(flags));
  Ref compiled;
  if (a[6] && a[6] != Py_None) {
    compiled = Ref::borrow(a[6]);
  } else {
    VX_TRY(Ref re_compile, import_attr("re", "compile"));
    VX_TRY(compiled, checked(PyObject_CallFunctionObjArgs(re_compile.get(), pattern, flags_obj.get(), nullptr)));
  }
  VX_TRY(Translation tr, translate(pattern, flags_obj.get(), compiled.get()));
  VX_TRY(Ref match, checked(PyObject_GetAttrString(compiled.get(), "match")));

  auto rule = std::make_shared<CompiledRule>();
  rule->native_source = tr.native.value_or(std::string());
  rule->prefix = std::move(tr.prefix);
  rule->priority = priority;
  rule->ascii_only = tr.ascii_only;
  if (tr.native) rule->native = NativeRegex::compile(*tr.native);
  rule->name = std::move(name);
  rule->func = std::move(func);
  rule->match = std::move(match);

  PyLexerEngine& e = rec(self);
  ensure_state(e, state);
  e.states.with([&](StateTable& t) {
    auto& rules = t.find(state)->second.rules;
    auto at = std::upper_bound(rules.begin(), rules.end(), priority,
                               [](int32_t p, const RulePtr& r) { return p > r->priority; });
    rules.insert(at, std::move(rule));
  });
  invalidate_plans(e);
  return Ref::none();
}
VX_ENGINE_METHOD(add_rule)

constexpr const char* kIgnoreNames[] = {"state", "chars"};
constexpr Signature kIgnore{.function = "LexerEngine.set_ignore", .names = kIgnoreNames, .count = 2, .positional = 2,
                            .required_positional = 2};

Result<Ref> set_ignore_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[2];
  VX_CHECK(bind_args(kIgnore, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_TRY(std::string state, to_utf8(a[0], "state"));
  VX_CHECK(check_str(a[1], "chars"));
  VX_TRY(auto chars, string_codepoints(a[1]));
  PyLexerEngine& e = rec(self);
  ensure_state(e, state);
  e.states.with([&](StateTable& t) { t.find(state)->second.ignore = std::move(chars); });
  return Ref::none();
}
VX_ENGINE_METHOD(set_ignore)

constexpr const char* kErrorFuncNames[] = {"state", "func"};
constexpr Signature kErrorFunc{.function = "LexerEngine.set_error_func", .names = kErrorFuncNames, .count = 2,
                               .positional = 2, .required_positional = 2};

Result<Ref> set_error_func_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[2];
  VX_CHECK(bind_args(kErrorFunc, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_TRY(std::string state, to_utf8(a[0], "state"));
  Ref func = a[1] != Py_None ? Ref::borrow(a[1]) : Ref();
  PyLexerEngine& e = rec(self);
  ensure_state(e, state);
  Ref previous = e.states.with([&](StateTable& t) { return std::exchange(t.find(state)->second.error_func, std::move(func)); });
  return Ref::none();  // `previous` is released after the table was left
}
VX_ENGINE_METHOD(set_error_func)

constexpr const char* kLiteralsNames[] = {"lits"};
constexpr Signature kLiterals{.function = "LexerEngine.set_literals", .names = kLiteralsNames, .count = 1,
                              .positional = 1, .required_positional = 1};

Void add_code_points(std::unordered_set<uint32_t>& set, PyObject* str) {
  VX_TRY(auto cps, string_codepoints(str));
  set.insert(cps.begin(), cps.end());
  return ok();
}

Result<Ref> set_literals_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[1];
  VX_CHECK(bind_args(kLiterals, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  std::unordered_set<uint32_t> set;
  if (PyUnicode_Check(a[0])) {
    VX_CHECK(add_code_points(set, a[0]));
  } else {
    VX_TRY(Ref it, checked(PyObject_GetIter(a[0])));
    while (PyObject* raw = PyIter_Next(it.get())) {
      Ref item = Ref::steal(raw);
      if (!PyUnicode_Check(item.get())) return cast_error(item.get(), "str");
      VX_CHECK(add_code_points(set, item.get()));
    }
    if (PyErr_Occurred()) return Error::pending();
  }
  rec(self).literals.with([&](auto& lits) { lits = std::move(set); });
  return Ref::none();
}
VX_ENGINE_METHOD(set_literals)

constexpr const char* kInputNames[] = {"text"};
constexpr Signature kInput{.function = "LexerEngine.input", .names = kInputNames, .count = 1, .positional = 1,
                           .required_positional = 1};

Result<Ref> input_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[1];
  VX_CHECK(bind_args(kInput, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_CHECK(check_str(a[0], "text"));
  VX_TRY(Ref previous, replace_input(rec(self), a[0]));
  return Ref::none();
}
VX_ENGINE_METHOD(input)

constexpr const char* kRestoreNames[] = {"data", "pos", "lineno", "current_state", "state_stack"};
constexpr Signature kRestore{.function = "LexerEngine.restore_state", .names = kRestoreNames, .count = 5,
                             .positional = 5, .required_positional = 5};

Result<Ref> restore_state_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[5];
  VX_CHECK(bind_args(kRestore, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  VX_CHECK(check_str(a[0], "data"));
  VX_TRY(uint64_t pos, to_u64(a[1], "pos"));
  VX_TRY(uint64_t lineno, to_u64(a[2], "lineno"));
  VX_TRY(std::string current, to_utf8(a[3], "current_state"));
  VX_TRY(auto stack, to_text_list(a[4], "state_stack"));
  PyLexerEngine& e = rec(self);
  const bool known = e.states.with([&](StateTable& t) {
    if (t.find(current) == t.end()) return false;
    return std::all_of(stack.begin(), stack.end(), [&](const std::string& s) { return t.find(s) != t.end(); });
  });
  if (!known) return Error::make(PyExc_ValueError, "Snapshot contains an undefined lexer state");
  VX_TRY(Ref previous, replace_input(e, a[0]));
  e.pos = pos;
  e.lineno = lineno;
  auto name = std::make_shared<const std::string>(std::move(current));
  e.current_state.with([&](auto& s) { s = std::move(name); });
  e.state_stack.with([&](auto& st) { st = std::move(stack); });
  return Ref::none();
}
VX_ENGINE_METHOD(restore_state)

constexpr const char* kSkipNames[] = {"n"};
constexpr Signature kSkip{.function = "LexerEngine.skip", .names = kSkipNames, .count = 1, .positional = 1,
                          .required_positional = 0};

Result<Ref> skip_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[1];
  VX_CHECK(bind_args(kSkip, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  uint64_t n = 1;
  if (a[0]) {
    VX_TRY(n, to_u64(a[0], "n"));
  }
  PyLexerEngine& e = rec(self);
  if (e.pos > kMaxCounter - n) return Error::make(PyExc_OverflowError, "position exceeds the counter range");
  e.pos += n;
  return Ref::none();
}
VX_ENGINE_METHOD(skip)

PyObject* token(PyObject* self, PyObject*) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, enter(self));
    VX_TRY(Ref tok, next_token(rec(self)));
    return tok ? std::move(tok) : Ref::none();
  });
}

constexpr const char* kTokenizeNames[] = {"text"};
constexpr Signature kTokenize{.function = "LexerEngine.tokenize", .names = kTokenizeNames, .count = 1,
                              .positional = 1, .required_positional = 0};

Result<Ref> tokenize_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[1];
  VX_CHECK(bind_args(kTokenize, args, nargs, kwnames, a));
  VX_TRY(auto guard, enter(self));
  PyLexerEngine& e = rec(self);
  if (a[0] && a[0] != Py_None) {
    VX_CHECK(check_str(a[0], "text"));
    VX_TRY(Ref previous, replace_input(e, a[0]));
  }
  std::vector<Ref> results;
  for (;;) {
    VX_TRY(Ref tok, next_token(e));
    if (!tok) break;
    results.push_back(std::move(tok));
  }
  VX_TRY(Ref list, new_list(static_cast<Py_ssize_t>(results.size())));
  for (size_t i = 0; i < results.size(); ++i) list_put(list.get(), static_cast<Py_ssize_t>(i), std::move(results[i]));
  return list;
}
VX_ENGINE_METHOD(tokenize)

#undef VX_ENGINE_METHOD

// --- properties ------------------------------------------------------------------------

template <class Read>
PyObject* engine_get(PyObject* self, Read&& read) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, enter(self));
    return read(rec(self));
  });
}

template <class Convert, class Write>
int engine_set(PyObject* self, PyObject* v, Convert&& convert, Write&& write) {
  return boundary_int([&]() -> Void {
    if (!v) return no_deleter();
    VX_TRY(auto native, convert(v));
    VX_TRY(auto guard, enter(self));
    return write(rec(self), std::move(native));
  });
}

PyObject* get_pos(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) { return py_int(e.pos); });
}
int set_pos(PyObject* self, PyObject* v, void*) {
  return engine_set(self, v, u64_arg("pos"), [](PyLexerEngine& e, uint64_t n) -> Void {
    e.pos = n;
    return ok();
  });
}
PyObject* get_lineno(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) { return py_int(e.lineno); });
}
int set_lineno(PyObject* self, PyObject* v, void*) {
  return engine_set(self, v, u64_arg("lineno"), [](PyLexerEngine& e, uint64_t n) -> Void {
    e.lineno = n;
    return ok();
  });
}
PyObject* get_data(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) -> Result<Ref> {
    Ref d = e.data.with([](Ref& r) { return r.share(); });
    if (d) return d;
    return py_str("");
  });
}
PyObject* get_length(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) { return py_int(e.length); });
}
PyObject* get_input_revision(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) { return py_int(e.input_revision); });
}
PyObject* get_current_state(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) { return py_str(*current_state_of(e)); });
}
PyObject* get_state_stack(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) -> Result<Ref> {
    std::vector<std::string> stack = e.state_stack.with([](auto& st) { return st; });
    return py_str_list(stack);
  });
}
int set_state_stack(PyObject* self, PyObject* v, void*) {
  return engine_set(self, v, [](PyObject* o) { return to_text_list(o, "states"); },
                    [](PyLexerEngine& e, std::vector<std::string> stack) -> Void {
                      const bool known = e.states.with([&](StateTable& t) {
                        return std::all_of(stack.begin(), stack.end(),
                                           [&](const std::string& s) { return t.find(s) != t.end(); });
                      });
                      if (!known) return Error::make(PyExc_ValueError, "Undefined lexer state in stack");
                      e.state_stack.with([&](auto& st) { st = std::move(stack); });
                      return ok();
                    });
}
PyObject* get_callback_owner(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) { return owner_of(e); });
}
int set_callback_owner(PyObject* self, PyObject* v, void*) {
  return engine_set(self, v, object_arg, [](PyLexerEngine& e, Ref o) -> Void {
    Ref stored = o.get() == Py_None ? Ref() : std::move(o);
    Ref previous = e.callback_owner.with([&](Ref& r) { return std::exchange(r, std::move(stored)); });
    return ok();
  });
}

PyObject* get_matcher_kinds(PyObject* self, void*) {
  return engine_get(self, [](PyLexerEngine& e) -> Result<Ref> {
    std::vector<std::pair<std::string, std::vector<const char*>>> kinds = e.states.with([](StateTable& t) {
      std::vector<std::pair<std::string, std::vector<const char*>>> out;
      for (const auto& [name, st] : t) {
        std::vector<const char*> words;
        for (const RulePtr& r : st.rules) words.push_back(!r->is_native() ? "python-re" : r->ascii_only ? "native-ascii" : "native");
        out.emplace_back(name, std::move(words));
      }
      return out;
    });
    VX_TRY(Ref dict, new_dict());
    for (const auto& [name, words] : kinds) {
      VX_TRY(Ref list, py_str_list(words));
      VX_TRY(Ref key, py_str(name));
      VX_CHECK(dict_set(dict.get(), key.get(), list.get()));
    }
    return dict;
  });
}

// --- garbage collection -------------------------------------------------------------------

int engine_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  PyLexerEngine& e = rec(self);
  if (!e.thread.on_owner_thread() || e.borrow.held_exclusively()) return 0;
  if (Ref* owner = e.callback_owner.peek()) Py_VISIT(owner->get());
  if (Ref* data = e.data.peek()) Py_VISIT(data->get());
  StateTable* table = e.states.peek();
  if (!table) return 0;
  for (const auto& [name, st] : *table) {
    Py_VISIT(st.error_func.get());
    for (const RulePtr& r : st.rules) {
      Py_VISIT(r->func.get());
      Py_VISIT(r->match.get());
    }
  }
  return 0;
}

int engine_clear(PyObject* self) {
  PyLexerEngine& e = rec(self);
  if (!e.thread.on_owner_thread()) {
    // Clearing from another thread is refused like any other use.
    raise_panic((std::string(kNativeName) + " is unsendable, but sent to another thread").c_str());
    PyErr_WriteUnraisable(nullptr);
    return 0;
  }
  if (!e.borrow.try_exclusive()) return 0;
  ExclusiveGuard guard(&e.borrow);
  Ref owner = e.callback_owner.with([](Ref& r) { return std::exchange(r, Ref()); });
  Ref data = e.data.with([](Ref& r) { return std::exchange(r, Ref()); });
  auto input = e.input.with([](auto& in) { return std::exchange(in, std::make_shared<const InputText>()); });
  e.length = 0;
  e.pos = 0;
  StateTable states = e.states.with([](StateTable& t) { return std::exchange(t, StateTable()); });
  e.table_generation += 1;
  e.cached_state = nullptr;
  guard.release();
  return 0;  // the removed objects and the old state table go here
}

void engine_dealloc(PyObject* self) {
  PyLexerEngine& e = rec(self);
  if (e.thread.may_drop(kNativeName, self)) {
    dealloc_box<PyLexerEngine>(self);
    return;
  }
  // Dropped on a foreign thread: the native state is not released.
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyObject* engine_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    static constexpr Signature kNew{.function = "LexerEngine.__new__", .names = nullptr, .count = 0,
                                    .positional = 0, .required_positional = 0};
    VX_CHECK(bind_args(kNew, args, kwargs, nullptr));
    return new_box<PyLexerEngine>(tp);
  });
}

PyMethodDef kMethods[] = {
    {"add_state", VX_FASTCALL(add_state), METH_FASTCALL | METH_KEYWORDS,
     "add_state($self, name, kind=\"inclusive\")\n--\n\n"},
    {"begin", VX_FASTCALL(begin), METH_FASTCALL | METH_KEYWORDS, "begin($self, state)\n--\n\n"},
    {"push_state", VX_FASTCALL(push_state), METH_FASTCALL | METH_KEYWORDS, "push_state($self, state)\n--\n\n"},
    {"pop_state", pop_state, METH_NOARGS, "pop_state($self)\n--\n\n"},
    {"add_rule", VX_FASTCALL(add_rule), METH_FASTCALL | METH_KEYWORDS,
     "add_rule($self, state, name, pattern, func=None, priority=0, flags=0, *, compiled=None)\n--\n\n"},
    {"set_ignore", VX_FASTCALL(set_ignore), METH_FASTCALL | METH_KEYWORDS, "set_ignore($self, state, chars)\n--\n\n"},
    {"set_error_func", VX_FASTCALL(set_error_func), METH_FASTCALL | METH_KEYWORDS,
     "set_error_func($self, state, func)\n--\n\n"},
    {"set_literals", VX_FASTCALL(set_literals), METH_FASTCALL | METH_KEYWORDS, "set_literals($self, lits)\n--\n\n"},
    {"input", VX_FASTCALL(input), METH_FASTCALL | METH_KEYWORDS, "input($self, text)\n--\n\n"},
    {"restore_state", VX_FASTCALL(restore_state), METH_FASTCALL | METH_KEYWORDS,
     "restore_state($self, data, pos, lineno, current_state, state_stack)\n--\n\n"},
    {"skip", VX_FASTCALL(skip), METH_FASTCALL | METH_KEYWORDS, "skip($self, n=1)\n--\n\n"},
    {"tokenize", VX_FASTCALL(tokenize), METH_FASTCALL | METH_KEYWORDS, "tokenize($self, text=None)\n--\n\n"},
    {"token", token, METH_NOARGS, "token($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"pos", get_pos, set_pos, nullptr, nullptr},
    {"lineno", get_lineno, set_lineno, nullptr, nullptr},
    {"data", get_data, nullptr, nullptr, nullptr},
    {"length", get_length, nullptr, nullptr, nullptr},
    {"input_revision", get_input_revision, nullptr, nullptr, nullptr},
    {"current_state", get_current_state, nullptr, nullptr, nullptr},
    {"state_stack", get_state_stack, set_state_stack, nullptr, nullptr},
    {"callback_owner", get_callback_owner, set_callback_owner, nullptr, nullptr},
    {"matcher_kinds", get_matcher_kinds, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("LexerEngine()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(engine_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(engine_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(engine_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(engine_clear)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.LexerEngine",
    .basicsize = sizeof(Box<PyLexerEngine>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .slots = kSlots,
};

}  // namespace

Result<PyTypeObject*> lexer_engine_type() { return g_engine_type.get(kSpec, "LexerEngine"); }

}  // namespace vx
