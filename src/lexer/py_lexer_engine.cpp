// The Python class LexerEngine: its methods, properties and garbage
// collection over the record of lexer/py_lexer_record.hpp.
#include "lexer/py_lexer_engine.hpp"

#include <algorithm>
#include <limits>
#include <tuple>

#include "binding/args.hpp"
#include "binding/convert.hpp"
#include "binding/imports.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "binding/properties.hpp"
#include "binding/signals.hpp"
#include "binding/strings.hpp"
#include "binding/thread_bound.hpp"
#include "lexer/py_lexer_record.hpp"

namespace vx {
namespace {

using namespace lex;

constexpr uint64_t kMaxCounter = std::numeric_limits<uint64_t>::max();

TypeCell g_engine_type;

PyLexerEngine& rec(PyObject* self) { return unbox<PyLexerEngine>(self); }

// --- methods -------------------------------------------------------------------------

using kAddState = VX_SIGNATURE("LexerEngine", "add_state($self, name, kind=\"inclusive\")");

Result<Ref> add_state_impl(PyObject*, PyLexerEngine& e, const kAddState::Args& a) {
  VX_TRY(std::string name, to_utf8(a["name"]));
  std::string kind = "inclusive";
  if (a["kind"]) {
    VX_TRY(kind, to_utf8(a["kind"]));
  }
  VX_CHECK(define_state(e, name, kind));
  return Ref::none();
}

using kBegin = VX_SIGNATURE("LexerEngine", "begin($self, state)");
using kPush = VX_SIGNATURE("LexerEngine", "push_state($self, state)");

Result<Ref> begin_impl(PyObject*, PyLexerEngine& e, const kBegin::Args& a) {
  VX_TRY(std::string state, to_utf8(a["state"]));
  VX_CHECK(begin_state(e, state));
  return Ref::none();
}

Result<Ref> push_state_impl(PyObject*, PyLexerEngine& e, const kPush::Args& a) {
  VX_TRY(std::string state, to_utf8(a["state"]));
  if (!state_defined(e, state)) return undefined_state(state);
  std::string current = *current_state_of(e);
  e.state_stack.with([&](auto& st) { st.push_back(std::move(current)); });
  VX_CHECK(begin_state(e, state));
  return Ref::none();
}

Result<Ref> pop_state_impl(PyObject*, PyLexerEngine& e) {
  std::optional<std::string> top = e.state_stack.with([](auto& st) -> std::optional<std::string> {
    if (st.empty()) return std::nullopt;
    std::string t = std::move(st.back());
    st.pop_back();
    return t;
  });
  if (!top) return Error::make(PyExc_ValueError, "State stack is empty");
  VX_CHECK(begin_state(e, *top));
  return Ref::none();
}

using kAddRule = VX_SIGNATURE("LexerEngine", "add_rule($self, state, name, pattern, func=None, priority=0, flags=0, *, compiled=None)");

struct Translation {
  std::optional<std::string> native;
  bool ascii_only;
  std::string prefix;
  std::optional<std::string> pretest;
  bool pretest_ascii_only = false;
};

inline constexpr char kNativePattern[] = "native_pattern";
inline constexpr char kPretestPattern[] = "pretest_pattern";

Result<Translation> translate(PyObject* pattern, PyObject* flags, PyObject* compiled) {
  VX_TRY(Ref support, import_module("vexlor.core.regex_support"));
  VX_TRY(Ref fn, get_attr(support.get(), names::interned<kNativePattern>()));
  VX_TRY(Ref res, call(fn.get(), pattern, flags, compiled));
  VX_CHECK(check_tuple(res.get(), 3, ""));
  Translation t;
  VX_TRY(t.native, to_optional_utf8(PyTuple_GET_ITEM(res.get(), 0), ""));
  VX_TRY(t.ascii_only, to_bool(PyTuple_GET_ITEM(res.get(), 1), ""));
  VX_TRY(t.prefix, to_utf8(PyTuple_GET_ITEM(res.get(), 2), ""));
  if (t.native && !t.ascii_only) return t;
  // The rule goes through Python on some input. A translator that also
  // offers a looser pattern for it lets the scan skip calls that cannot
  // succeed; one that offers native_pattern alone leaves every call made.
  VX_TRY(Ref pre_fn, get_optional_attr(support.get(), names::interned<kPretestPattern>()));
  if (!pre_fn) return t;
  VX_TRY(Ref pre, call(pre_fn.get(), pattern, flags, compiled));
  VX_CHECK(check_tuple(pre.get(), 2, ""));
  VX_TRY(t.pretest, to_optional_utf8(PyTuple_GET_ITEM(pre.get(), 0), ""));
  VX_TRY(t.pretest_ascii_only, to_bool(PyTuple_GET_ITEM(pre.get(), 1), ""));
  return t;
}

Result<Ref> add_rule_impl(PyObject*, PyLexerEngine& e, const kAddRule::Args& a) {
  VX_TRY(std::string state, to_utf8(a["state"]));
  VX_TRY(auto name, to_shared_text(a["name"]));
  VX_CHECK(check_str(a["pattern"]));
  PyObject* pattern = a["pattern"];
  Ref func = Ref::borrow(a["func"].given());
  int32_t priority = 0, flags = 0;
  if (a["priority"]) {
    VX_TRY(priority, to_i32(a["priority"]));
  }
  if (a["flags"]) {
    VX_TRY(flags, to_i32(a["flags"]));
  }
  // Every call into Python comes before the engine is touched.
  VX_TRY(Ref flags_obj, py_int_signed(flags));
  Ref compiled;
  if (PyObject* given = a["compiled"].given()) {
    compiled = Ref::borrow(given);
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
  if (tr.pretest) {
    rule->pretest = NativeRegex::compile(*tr.pretest);
    rule->pretest_ascii_only = tr.pretest_ascii_only;
  }
  rule->name = std::move(name);
  rule->func = std::move(func);
  rule->match = std::move(match);

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

using kIgnore = VX_SIGNATURE("LexerEngine", "set_ignore($self, state, chars)");

Result<Ref> set_ignore_impl(PyObject*, PyLexerEngine& e, const kIgnore::Args& a) {
  VX_TRY(std::string state, to_utf8(a["state"]));
  VX_CHECK(check_str(a["chars"]));
  VX_TRY(auto chars, string_codepoints(a["chars"]));
  ensure_state(e, state);
  e.states.with([&](StateTable& t) { t.find(state)->second.ignore = std::move(chars); });
  return Ref::none();
}

using kErrorFunc = VX_SIGNATURE("LexerEngine", "set_error_func($self, state, func)");

Result<Ref> set_error_func_impl(PyObject*, PyLexerEngine& e, const kErrorFunc::Args& a) {
  VX_TRY(std::string state, to_utf8(a["state"]));
  Ref func = Ref::borrow(a["func"].given());
  ensure_state(e, state);
  Ref previous = e.states.with([&](StateTable& t) { return std::exchange(t.find(state)->second.error_func, std::move(func)); });
  return Ref::none();  // `previous` is released after the table was left
}

using kLiterals = VX_SIGNATURE("LexerEngine", "set_literals($self, lits)");

Void add_code_points(std::unordered_set<uint32_t>& set, PyObject* str) {
  VX_TRY(auto cps, string_codepoints(str));
  set.insert(cps.begin(), cps.end());
  return ok();
}

Result<Ref> set_literals_impl(PyObject*, PyLexerEngine& e, const kLiterals::Args& a) {
  std::unordered_set<uint32_t> set;
  PyObject* lits = a["lits"];
  if (PyUnicode_Check(lits)) {
    VX_CHECK(add_code_points(set, lits));
  } else {
    VX_TRY(Ref it, checked(PyObject_GetIter(lits)));
    while (PyObject* raw = PyIter_Next(it.get())) {
      Ref item = Ref::steal(raw);
      if (!PyUnicode_Check(item.get())) return cast_error(item.get(), "str");
      VX_CHECK(add_code_points(set, item.get()));
    }
    if (PyErr_Occurred()) return Error::pending();
  }
  e.literals.with([&](auto& lits) { lits = std::move(set); });
  return Ref::none();
}

using kInput = VX_SIGNATURE("LexerEngine", "input($self, text)");

Result<Ref> input_impl(PyObject*, PyLexerEngine& e, const kInput::Args& a) {
  VX_CHECK(check_str(a["text"]));
  VX_TRY(Ref previous, replace_input(e, a["text"]));
  return Ref::none();
}

using kRestore = VX_SIGNATURE("LexerEngine", "restore_state($self, data, pos, lineno, current_state, state_stack)");

Result<Ref> restore_state_impl(PyObject*, PyLexerEngine& e, const kRestore::Args& a) {
  VX_CHECK(check_str(a["data"]));
  VX_TRY(uint64_t pos, to_u64(a["pos"]));
  VX_TRY(uint64_t lineno, to_u64(a["lineno"]));
  VX_TRY(std::string current, to_utf8(a["current_state"]));
  VX_TRY(auto stack, to_text_list(a["state_stack"]));
  const bool known = e.states.with([&](StateTable& t) {
    if (t.find(current) == t.end()) return false;
    return std::all_of(stack.begin(), stack.end(), [&](const std::string& s) { return t.find(s) != t.end(); });
  });
  if (!known) return Error::make(PyExc_ValueError, "Snapshot contains an undefined lexer state");
  VX_TRY(Ref previous, replace_input(e, a["data"]));
  e.pos = pos;
  e.lineno = lineno;
  auto name = std::make_shared<const std::string>(std::move(current));
  e.current_state.with([&](auto& s) { s = std::move(name); });
  e.state_stack.with([&](auto& st) { st = std::move(stack); });
  return Ref::none();
}

using kSkip = VX_SIGNATURE("LexerEngine", "skip($self, n=1)");

Result<Ref> skip_impl(PyObject*, PyLexerEngine& e, const kSkip::Args& a) {
  VX_TRY(const uint64_t n, to_u64_or(a["n"], 1));
  if (e.pos > kMaxCounter - n) return Error::make(PyExc_OverflowError, "position exceeds the counter range");
  e.pos += n;
  return Ref::none();
}

Result<Ref> token_impl(PyObject*, PyLexerEngine& e) {
  VX_TRY(Ref tok, next_token(e));
  return tok ? std::move(tok) : Ref::none();
}

using kTokenize = VX_SIGNATURE("LexerEngine", "tokenize($self, text=None)");

Result<Ref> tokenize_impl(PyObject*, PyLexerEngine& e, const kTokenize::Args& a) {
  if (PyObject* text = a["text"].given()) {
    VX_CHECK(check_str(a["text"]));
    VX_TRY(Ref previous, replace_input(e, text));
  }
  std::vector<Ref> results;
  // Native rules lex a long text without running any Python code, and with
  // it the interpreter's signal handlers: Ctrl-C is looked for here.
  SignalPoll poll;
  for (;;) {
    if (poll.interrupted()) return Error::pending();
    VX_TRY(Ref tok, next_token(e, StalledErrorResult::Refuse));
    if (!tok) break;
    results.push_back(std::move(tok));
  }
  VX_TRY(Ref list, new_list(static_cast<Py_ssize_t>(results.size())));
  for (size_t i = 0; i < results.size(); ++i) list_put(list.get(), static_cast<Py_ssize_t>(i), std::move(results[i]));
  return list;
}

// --- properties ------------------------------------------------------------------------

VX_BOUND_U64_PROPERTY(PyLexerEngine, get_pos, set_pos, pos, "pos")
VX_BOUND_U64_PROPERTY(PyLexerEngine, get_lineno, set_lineno, lineno, "lineno")
PyObject* get_data(PyObject* self, void*) {
  return bound_get<PyLexerEngine>(self, [](PyLexerEngine& e) -> Result<Ref> {
    Ref d = e.data.with([](Ref& r) { return r.share(); });
    if (d) return d;
    return py_str("");
  });
}
PyObject* get_length(PyObject* self, void*) {
  return bound_get<PyLexerEngine>(self, [](PyLexerEngine& e) { return py_int(e.length); });
}
PyObject* get_input_revision(PyObject* self, void*) {
  return bound_get<PyLexerEngine>(self, [](PyLexerEngine& e) { return py_int(e.input_revision); });
}
PyObject* get_current_state(PyObject* self, void*) {
  return bound_get<PyLexerEngine>(self, [](PyLexerEngine& e) { return py_str(*current_state_of(e)); });
}
PyObject* get_state_stack(PyObject* self, void*) {
  return bound_get<PyLexerEngine>(self, [](PyLexerEngine& e) -> Result<Ref> {
    std::vector<std::string> stack = e.state_stack.with([](auto& st) { return st; });
    return py_str_list(stack);
  });
}
int set_state_stack(PyObject* self, PyObject* v, void*) {
  return bound_set<PyLexerEngine>(self, v, [](PyObject* o) { return to_text_list(o, "states"); },
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
  return bound_get<PyLexerEngine>(self, [](PyLexerEngine& e) { return owner_of(e); });
}
int set_callback_owner(PyObject* self, PyObject* v, void*) {
  return bound_set<PyLexerEngine>(self, v, object_arg, [](PyLexerEngine& e, Ref o) -> Void {
    Ref stored = o.get() == Py_None ? Ref() : std::move(o);
    Ref previous = e.callback_owner.with([&](Ref& r) { return std::exchange(r, std::move(stored)); });
    return ok();
  });
}

PyObject* get_matcher_kinds(PyObject* self, void*) {
  return bound_get<PyLexerEngine>(self, [](PyLexerEngine& e) -> Result<Ref> {
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
  if (!bound_traversable<PyLexerEngine>(self)) return 0;
  PyLexerEngine& e = rec(self);
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
  return bound_clear<PyLexerEngine>(self, [](PyLexerEngine& e) {
    Ref owner = e.callback_owner.with([](Ref& r) { return std::exchange(r, Ref()); });
    Ref data = e.data.with([](Ref& r) { return std::exchange(r, Ref()); });
    auto input = e.input.with([](auto& in) { return std::exchange(in, std::make_shared<const InputText>()); });
    e.length = 0;
    e.pos = 0;
    StateTable states = e.states.with([](StateTable& t) { return std::exchange(t, StateTable()); });
    e.state_cache.drop();
    return std::tuple(std::move(owner), std::move(data), std::move(input), std::move(states));
  });
}

using kNew = VX_SIGNATURE("LexerEngine", "LexerEngine()");

PyObject* engine_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_CHECK(kNew::bind(args, kwargs));
    return new_box<PyLexerEngine>(tp);
  });
}

PyMethodDef kMethods[] = {
    VX_METHOD_DEF(kAddState, (bound_method<PyLexerEngine, kAddState, add_state_impl>)),
    VX_METHOD_DEF(kBegin, (bound_method<PyLexerEngine, kBegin, begin_impl>)),
    VX_METHOD_DEF(kPush, (bound_method<PyLexerEngine, kPush, push_state_impl>)),
    {"pop_state", bound_noargs<PyLexerEngine, pop_state_impl>, METH_NOARGS, "pop_state($self)\n--\n\n"},
    VX_METHOD_DEF(kAddRule, (bound_method<PyLexerEngine, kAddRule, add_rule_impl>)),
    VX_METHOD_DEF(kIgnore, (bound_method<PyLexerEngine, kIgnore, set_ignore_impl>)),
    VX_METHOD_DEF(kErrorFunc, (bound_method<PyLexerEngine, kErrorFunc, set_error_func_impl>)),
    VX_METHOD_DEF(kLiterals, (bound_method<PyLexerEngine, kLiterals, set_literals_impl>)),
    VX_METHOD_DEF(kInput, (bound_method<PyLexerEngine, kInput, input_impl>)),
    VX_METHOD_DEF(kRestore, (bound_method<PyLexerEngine, kRestore, restore_state_impl>)),
    VX_METHOD_DEF(kSkip, (bound_method<PyLexerEngine, kSkip, skip_impl>)),
    VX_METHOD_DEF(kTokenize, (bound_method<PyLexerEngine, kTokenize, tokenize_impl>)),
    {"token", bound_noargs<PyLexerEngine, token_impl>, METH_NOARGS, "token($self)\n--\n\n"},
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
    {Py_tp_doc, const_cast<char*>(kNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(engine_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(bound_dealloc<PyLexerEngine>)},
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
