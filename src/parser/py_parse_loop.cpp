// LRParserEngine.parse: argument conversion, the start of a parse and the
// shift/reduce loop with its four ways of computing a reduction's value.
#include <array>

#include "binding/boundary.hpp"
#include "binding/convert.hpp"
#include "binding/imports.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "binding/signals.hpp"
#include "binding/thread_bound.hpp"
#include "parser/py_parse_run.hpp"

namespace vx {

Error parser_error(const std::string& message) {
  Result<Ref> text = py_str(message);
  if (!text.ok()) return std::move(text).error();
  return package_exception("vexlor.core.production", "ParserError", {text->get()});
}

void ParseRun::lookahead_changed() {
  la.id = ids.lookup(tables, la.sym.sym_type);
  la.fallback = Lookahead::Fallback::Unknown;
}

void ParseRun::set_lookahead(PyParsedSymbol sym) {
  la.sym = std::move(sym);
  lookahead_changed();
}

Void ParseRun::fetch_lookahead() {
  VX_CHECK(source.next_symbol(la.sym));
  lookahead_changed();
  insertions = 0;
  return ok();
}

void ParseRun::drop_top(uint64_t n) {
  dropped.clear();
  with_symbols([&](std::vector<PyParsedSymbol>& s) {
    const size_t first = s.size() - n;
    for (size_t i = first; i < s.size(); ++i) dropped.push_back(std::move(s[i].value));
    s.resize(first);
    stack->hidden = 0;
  });
  dropped.clear();  // released after the stack was given back
}

Void ParseRun::take_lookahead(PyObject* token) {
  VX_CHECK(symbol_from_token(token, la.sym));
  lookahead_changed();
  return ok();
}

namespace {

// A failure of the loop's decisions becomes ParserError.
template <class T>
Result<T> or_parser_error(Outcome<T> r) {
  if (r.ok()) return std::move(r).value();
  return parser_error(r.failure().message);
}

// --- the action lookup ---------------------------------------------------------

// The id that the lookahead's value names, computed once per lookahead: a
// text value that cannot be encoded (lone surrogates) names nothing.
std::optional<uint32_t> fallback_id(ParseRun& r) {
  Lookahead& la = r.la;
  if (la.fallback == Lookahead::Fallback::Unknown) {
    la.fallback = Lookahead::Fallback::None;
    PyObject* v = la.sym.value.get();
    if (PyUnicode_Check(v)) {
      Py_ssize_t size = 0;
      if (const char* text = PyUnicode_AsUTF8AndSize(v, &size)) {
        if (auto id = r.tables.symbol_id(std::string_view(text, static_cast<size_t>(size)))) {
          la.fallback = Lookahead::Fallback::Known;
          la.fallback_id = *id;
        }
      } else {
        PyErr_Clear();
      }
    }
  }
  if (la.fallback == Lookahead::Fallback::Known) return la.fallback_id;
  return std::nullopt;
}

parse::Action next_action(ParseRun& r, uint64_t state) {
  if (r.saved) return parse::error_action(r.tables, state, r.error_id, r.prog.prod_lens, r.depth());
  if (r.la.id) {
    const uint32_t id = *r.la.id;
    parse::OwnLookup own = r.actions.get(state, id, [&] { return parse::own_action(r.tables, state, id); });
    if (own.found) return own.action;
  }
  return parse::fallback_action(r.tables, state, fallback_id(r));
}

// --- loop top ------------------------------------------------------------------

void apply_requests(ParseRun& r) {
  if (r.control->take_restart()) {
    r.states.assign(1, 0);
    std::vector<PyParsedSymbol> old = r.with_symbols([](std::vector<PyParsedSymbol>& s) {
      std::vector<PyParsedSymbol> taken = std::move(s);
      s.clear();
      s.push_back(bottom_symbol());
      return taken;
    });
    r.saved.reset();
    // `old` is released here, after the stack was given back.
  }
  if (r.control->take_errok()) r.errorcount = 0;
}

// --- shift -----------------------------------------------------------------------

Void shift(ParseRun& r, const parse::Action& act, uint64_t state) {
  VX_CHECK(or_parser_error(parse::check_shift(r.tables, act, state)));
  r.states.push_back(act.target);
  r.with_symbols([&](std::vector<PyParsedSymbol>& s) { s.push_back(std::move(r.la.sym)); });
  if (r.saved) {
    PyParsedSymbol real = std::move(r.saved->sym);
    r.saved.reset();
    r.set_lookahead(std::move(real));
    return ok();
  }
  VX_CHECK(r.fetch_lookahead());
  if (r.errorcount > 0) --r.errorcount;
  return ok();
}

// --- the value of a reduction ---------------------------------------------------

// f(*values) by vectorcall, without a tuple.
Result<Ref> call_with_values(PyObject* f, std::span<const PyParsedSymbol> rhs) {
  constexpr size_t kInline = 8;
  std::array<PyObject*, kInline + 1> inline_args;
  std::vector<PyObject*> heap_args;
  PyObject** argv = inline_args.data();
  if (rhs.size() > kInline) {
    heap_args.resize(rhs.size() + 1);
    argv = heap_args.data();
  }
  for (size_t i = 0; i < rhs.size(); ++i) argv[i + 1] = rhs[i].value.get();
  return checked(PyObject_Vectorcall(f, argv + 1, rhs.size() | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// A value action: value_funcs[p] called with the values of the right-hand
// side, which stays on the stack, hidden from Python, meanwhile. Yields the
// value, or an empty Ref for None (the first value stays).
Result<Ref> value_action(ParseRun& r, uint64_t p, uint64_t n) {
  r.with_symbols([&](std::vector<PyParsedSymbol>&) { r.stack->hidden = n; });
  Result<Ref> value = [&]() -> Result<Ref> {
    if (!r.value_funcs) return Error::make(PyExc_ValueError, "value_funcs required for value actions");
    Ref f;
    if (PyList_CheckExact(r.value_funcs) && p < static_cast<uint64_t>(PyList_GET_SIZE(r.value_funcs))) {
      f = Ref::borrow(PyList_GET_ITEM(r.value_funcs, static_cast<Py_ssize_t>(p)));
    } else {
      VX_TRY(f, checked(PySequence_GetItem(r.value_funcs, static_cast<Py_ssize_t>(p))));
    }
    // Only the loop changes the stack's vector, so the hidden records stay put during the call.
    const std::vector<PyParsedSymbol>& s = r.stack->symbols;
    return call_with_values(f.get(), std::span(s.data() + (s.size() - n), n));
  }();
  if (!value.ok()) {
    r.drop_top(n);
    return value;
  }
  if (value->get() == Py_None) return Ref();
  return value;
}

Void callback_reduction(ParseRun& r, uint64_t p, PyParsedSymbol& res) {
  const size_t n = r.rhs.size();
  VX_TRY(Ref rhs_list, new_list(static_cast<Py_ssize_t>(n)));
  Ref slice;
  if (r.prepared_slice) {
    VX_TRY(slice, new_list(static_cast<Py_ssize_t>(n + 1)));
  }
  for (size_t i = 0; i < n; ++i) {
    VX_TRY(Ref obj, wrap_symbol(std::move(r.rhs[i])));
    if (slice) list_put(slice.get(), static_cast<Py_ssize_t>(i + 1), obj.share());
    list_put(rhs_list.get(), static_cast<Py_ssize_t>(i), std::move(obj));
  }
  VX_TRY(Ref result_obj, wrap_symbol(std::move(res)));
  if (slice) list_put(slice.get(), 0, result_obj.share());
  VX_TRY(Ref number, py_int(p));
  std::array<PyObject*, 6> argv{nullptr, number.get(), result_obj.get(), rhs_list.get()};
  size_t argc = 3;
  if (r.with_stack) argv[1 + argc++] = r.stack_obj.get();
  if (slice) argv[1 + argc++] = slice.get();
  VX_TRY(Ref value, checked(PyObject_Vectorcall(r.reduce_cb, argv.data() + 1, argc | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                nullptr)));
  VX_TRY(res, copy_symbol_out(result_obj.get()));
  res.value = std::move(value);
  return ok();
}

// True when production p's object asks for the callback reduction: its
// action_style equals "values".
Result<bool> wants_values(PyObject* production) {
  VX_TRY(Ref style, get_attr(production, names::action_style()));
  PyObject* values = names::values();
  if (!values) return Error::pending();
  int eq = PyObject_RichCompareBool(style.get(), values, Py_EQ);
  if (eq < 0) return Error::pending();
  return eq == 1;
}

// The value of a reduction through reduce_cb or the native proxy.
Void custom_value(ParseRun& r, uint64_t p, PyParsedSymbol& res) {
  if (!r.proxy) return callback_reduction(r, p, res);
  VX_TRY(Ref index, py_int(p));
  VX_TRY(Ref production, checked(PyObject_GetItem(r.proxy->productions.get(), index.get())));
  VX_TRY(bool values, wants_values(production.get()));
  if (values) return callback_reduction(r, p, res);
  VX_TRY(res, native_proxy_reduce(*r.proxy, production.get(), std::move(res), std::span(r.rhs), r.stack_obj.get()));
  return ok();
}

// --- reduce ----------------------------------------------------------------------

// The result record of a reduction by p over `rhs`: the production's name,
// the positions of the right-hand side, its first value.
PyParsedSymbol result_record(const ParseProgram& prog, uint64_t p, std::span<const PyParsedSymbol> rhs) {
  PyParsedSymbol res;
  res.sym_type = prog.prod_names[p];
  if (rhs.empty()) {
    res.value = Ref::none();
    return res;
  }
  res.lineno = rhs.front().lineno;
  res.lexpos = rhs.front().lexpos;
  res.endlineno = rhs.back().endlineno;
  res.endlexpos = rhs.back().endlexpos;
  res.value = rhs.front().value.share();
  return res;
}

// The goto step from `below` for production p.
Result<uint64_t> goto_target(ParseRun& r, uint64_t p, uint64_t below) {
  const std::optional<uint32_t> lhs = r.prog.prod_lhs[p];
  std::optional<uint64_t> found;
  if (lhs) found = r.gotos.get(below, *lhs, [&] { return r.tables.goto_target(below, *lhs); });
  return or_parser_error(parse::check_goto(r.tables, below, found, *r.prog.prod_names[p]));
}

// Moves the top n symbols off the stack into r.rhs, leftmost first.
void split_off(ParseRun& r, uint64_t n) {
  r.rhs.clear();
  r.with_symbols([&](std::vector<PyParsedSymbol>& s) {
    const size_t first = s.size() - n;
    for (size_t i = first; i < s.size(); ++i) r.rhs.push_back(std::move(s[i]));
    s.resize(first);
  });
}

// The end of a default reduction or a value action: the result takes the
// place of the first right-hand-side symbol, whose value it keeps unless
// `value` is given.
Void reduce_in_place(ParseRun& r, uint64_t p, uint64_t n, Ref value) {
  const uint64_t below = r.states[r.states.size() - 1 - n];
  Result<uint64_t> target = goto_target(r, p, below);
  if (!target.ok()) {
    // The stack at the exit shows what lies below the right-hand side.
    r.drop_top(n);
    return std::move(target).error();
  }
  r.states.resize(r.states.size() - n);
  r.states.push_back(*target);
  if (n == 0) {
    PyParsedSymbol res = result_record(r.prog, p, {});
    if (value) res.value = std::move(value);
    r.with_symbols([&](std::vector<PyParsedSymbol>& s) { s.push_back(std::move(res)); });
    return ok();
  }
  r.dropped.clear();
  r.with_symbols([&](std::vector<PyParsedSymbol>& s) {
    const size_t first = s.size() - n;
    PyParsedSymbol& res = s[first];
    res.sym_type = r.prog.prod_names[p];
    res.endlineno = s.back().endlineno;
    res.endlexpos = s.back().endlexpos;
    if (value) r.dropped.push_back(std::exchange(res.value, std::move(value)));
    for (size_t i = first + 1; i < s.size(); ++i) r.dropped.push_back(std::move(s[i].value));
    s.resize(first + 1);
    r.stack->hidden = 0;
  });
  r.dropped.clear();  // released after the stack was given back
  return ok();
}

Void reduce(ParseRun& r, const parse::Action& act, uint64_t state) {
  const ParseProgram& prog = r.prog;
  const parse::ProductionLists lists{prog.prod_names.size(), prog.custom_count, prog.prod_lens};
  VX_TRY(uint64_t n, or_parser_error(parse::check_reduce(act, state, lists, r.depth())));
  const uint64_t p = act.target;
  switch (prog.reduction[p]) {
    case Reduction::Default:
      return reduce_in_place(r, p, n, Ref());
    case Reduction::Value: {
      VX_TRY(Ref value, value_action(r, p, n));
      if (r.control && r.control->restart()) {  // the loop top applies it; the result is dropped
        r.drop_top(n);
        r.states.resize(r.states.size() - n);
        return ok();
      }
      return reduce_in_place(r, p, n, std::move(value));
    }
    case Reduction::Custom:
      break;
  }
  // Callbacks see the stack without the right-hand side.
  r.states.resize(r.states.size() - n);
  split_off(r, n);
  PyParsedSymbol res = result_record(prog, p, r.rhs);
  Void computed = custom_value(r, p, res);
  r.rhs.clear();  // the right-hand side goes before anything else runs
  VX_CHECK(std::move(computed));
  if (r.control && r.control->restart()) return ok();  // the loop top applies it; the result is dropped
  VX_TRY(uint64_t target, goto_target(r, p, r.states.back()));
  r.states.push_back(target);
  r.with_symbols([&](std::vector<PyParsedSymbol>& s) { s.push_back(std::move(res)); });
  return ok();
}

// --- the loop ----------------------------------------------------------------------

Result<Ref> run(ParseRun& r) {
  SignalPoll poll;  // a run of reductions over native records calls no Python
  for (;;) {
    if (poll.interrupted()) return Error::pending();
    if (r.control) apply_requests(r);
    const uint64_t state = r.states.back();
    const parse::Action act = next_action(r, state);
    switch (act.kind) {
      case parse::Action::Kind::Shift:
        VX_CHECK(shift(r, act, state));
        break;
      case parse::Action::Kind::Reduce:
        VX_CHECK(reduce(r, act, state));
        break;
      case parse::Action::Kind::Accept:
        return r.with_symbols([](std::vector<PyParsedSymbol>& s) { return s.back().value.share(); });
      case parse::Action::Kind::None: {
        VX_TRY(Next next, r.recover());
        if (next == Next::Return) return std::move(r.result);
        break;
      }
    }
  }
}

// --- the start of a call -------------------------------------------------------------

Result<std::optional<ProxyContext>> read_proxy_context(PyObject* t) {
  if (!t) return std::optional<ProxyContext>();
  if (PyTuple_GET_SIZE(t) != 5) {
    return Error::make(PyExc_ValueError, "proxy_context requires productions, factory, invoke, lexer and parser");
  }
  ProxyContext ctx;
  ctx.factory = Ref::borrow(PyTuple_GET_ITEM(t, 1));
  VX_TRY(ctx.factory_new, get_attr(ctx.factory.get(), names::__new__()));
  ctx.productions = Ref::borrow(PyTuple_GET_ITEM(t, 0));
  ctx.invoke = Ref::borrow(PyTuple_GET_ITEM(t, 2));
  ctx.lexer = Ref::borrow(PyTuple_GET_ITEM(t, 3));
  ctx.parser = Ref::borrow(PyTuple_GET_ITEM(t, 4));
  return std::optional<ProxyContext>(std::move(ctx));
}

PyObject* given(PyObject* arg) { return arg && arg != Py_None ? arg : nullptr; }

}  // namespace

PyObject* engine_parse(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kParse::Args a, kParse::bind(args, static_cast<size_t>(nargsf), kwnames));
    PyParserEngine& engine = unbox<PyParserEngine>(self);
    VX_TRY(auto engine_access, borrow_shared(engine.borrow));

    // Arguments, in this order.
    PyObject* error_cb = given(a[2]);
    PyObject* value_funcs = given(a[3]);
    if (value_funcs && !PyList_Check(value_funcs)) {
      return std::move(cast_error(value_funcs, "list")).with_argument_note("value_funcs");
    }
    bool with_stack = false, prepared_slice = false;
    if (a[4]) {
      VX_TRY(with_stack, to_bool(a[4], "with_stack"));
    }
    if (a[5]) {
      VX_TRY(prepared_slice, to_bool(a[5], "prepared_slice"));
    }
    PyParserControl* control = nullptr;
    std::optional<SharedGuard> control_access;
    if (PyObject* c = given(a[6])) {
      if (!is_parser_control(c)) return std::move(cast_error(c, "ParserControl")).with_argument_note("control");
      control = &unbox<PyParserControl>(c);
      control->thread.check(PyParserControl::kNativeName);
      VX_TRY(SharedGuard g, noted(borrow_shared(control->borrow), "control"));
      control_access.emplace(std::move(g));
    }
    std::string style_name = "core";
    if (a[7]) {
      VX_TRY(style_name, to_utf8(a[7], "recovery_style"));
    }
    PyObject* proxy_tuple = given(a[8]);
    if (proxy_tuple && !PyTuple_Check(proxy_tuple)) {
      return std::move(cast_error(proxy_tuple, "tuple")).with_argument_note("proxy_context");
    }

    // The start of the parse: nothing is read and no callback runs before the first lookahead.
    std::optional<parse::Style> style = parse::style_named(style_name);
    if (!style) return Error::make(PyExc_ValueError, "Unknown parser recovery style");
    VX_TRY(std::optional<ProxyContext> proxy, read_proxy_context(proxy_tuple));
    VX_TRY(TokenSource source, TokenSource::select(a[0]));
    ParseRun r(engine.program, std::move(source));
    r.reduce_cb = a[1];
    r.error_cb = error_cb;
    r.value_funcs = value_funcs;
    r.with_stack = with_stack;
    r.prepared_slice = prepared_slice;
    r.control = control;
    r.style = *style;
    r.proxy = std::move(proxy);
    r.error_id = r.tables.symbol_id("error");
    VX_TRY(r.stack_obj, new_parser_stack());
    r.stack = &unbox<PyParserStack>(r.stack_obj.get());
    VX_CHECK(r.fetch_lookahead());
    return run(r);
  });
}

}  // namespace vx
