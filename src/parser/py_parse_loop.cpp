// The parse loop: the lookahead, the action lookup, shifts, reductions and
// gotos, until accept, a return chosen by recovery, or an exception.
#include "binding/convert.hpp"
#include "binding/imports.hpp"
#include "binding/objects.hpp"
#include "binding/signals.hpp"
#include "parser/py_parse_run.hpp"

namespace vx {

Error parser_error(const std::string& message) {
  Result<Ref> text = py_str(message);
  if (!text.ok()) return std::move(text).error();
  return package_exception("vexlor.core.production", "ParserError", {text->get()});
}

namespace {

// A failure of the loop's decisions becomes ParserError.
template <class T>
Result<T> or_parser_error(Outcome<T> r) {
  if (r.ok()) return std::move(r).value();
  return parser_error(r.error().message);
}

}  // namespace

ParseRun::ParseRun(PyParserEngine& engine, ParseOptions options, TokenSource source)
    : engine_(engine),
      prog_(engine.program),
      tables_(*engine.program.tables),
      opt_(std::move(options)),
      source_(std::move(source)),
      caches_(engine.caches.take(tables_)),
      stack_(&local_stack_) {}

ParseRun::~ParseRun() { engine_.caches.put_back(std::move(caches_)); }

Result<PyObject*> ParseRun::stack_object() {
  if (!stack_obj_) {
    VX_TRY(stack_obj_, new_parser_stack(std::move(local_stack_)));
    stack_ = &parse_stack_of(stack_obj_.get());
  }
  return stack_obj_.get();
}

// --- the lookahead ---------------------------------------------------------------

void ParseRun::lookahead_changed() {
  la_.id = caches_->ids.lookup(tables_, la_.sym.sym_type);
  la_.fallback = Lookahead::Fallback::Unknown;
}

void ParseRun::set_lookahead(PyParsedSymbol sym) {
  la_.sym = std::move(sym);
  lookahead_changed();
}

Void ParseRun::fetch_lookahead() {
  VX_CHECK(source_.next_symbol(la_.sym));
  lookahead_changed();
  guard_.token_read();
  return ok();
}

Void ParseRun::take_lookahead(PyObject* token) {
  VX_CHECK(symbol_from_token(token, la_.sym));
  lookahead_changed();
  return ok();
}

// The id that the lookahead's value names, computed once per lookahead: a
// text value that cannot be encoded (lone surrogates) names nothing.
std::optional<uint32_t> ParseRun::fallback_id() {
  if (la_.fallback == Lookahead::Fallback::Unknown) {
    la_.fallback = Lookahead::Fallback::None;
    PyObject* v = la_.sym.value.get();
    if (PyUnicode_Check(v)) {
      Py_ssize_t size = 0;
      if (const char* text = PyUnicode_AsUTF8AndSize(v, &size)) {
        if (auto id = tables_.symbol_id(std::string_view(text, static_cast<size_t>(size)))) {
          la_.fallback = Lookahead::Fallback::Known;
          la_.fallback_id = *id;
        }
      } else {
        PyErr_Clear();
      }
    }
  }
  if (la_.fallback == Lookahead::Fallback::Known) return la_.fallback_id;
  return std::nullopt;
}

// --- the action lookup -----------------------------------------------------------

parse::Action ParseRun::next_action(uint64_t state) {
  if (saved_) return parse::error_action(tables_, state, prog_.error_id, prog_.prod_lens, stack().depth());
  if (la_.id) {
    const uint32_t id = *la_.id;
    parse::OwnLookup own = caches_->actions.get(state, id, [&] { return parse::own_action(tables_, state, id); });
    if (own.found) return own.action;
  }
  return parse::fallback_action(tables_, state, fallback_id());
}

// --- loop top ----------------------------------------------------------------------

void ParseRun::apply_requests() {
  if (opt_.control->take_restart()) {
    stack().reset();
    saved_.reset();
  }
  if (opt_.control->take_errok()) errorcount_ = 0;
}

bool ParseRun::restart_requested() const { return opt_.control && opt_.control->restart(); }

// --- shift -------------------------------------------------------------------------

Void ParseRun::shift(const parse::Action& act, uint64_t state) {
  VX_CHECK(or_parser_error(parse::check_shift(tables_, act, state)));
  stack().push(act.target, std::move(la_.sym));
  if (saved_) {
    PyParsedSymbol real = std::move(saved_->sym);
    saved_.reset();
    set_lookahead(std::move(real));
    return ok();
  }
  guard_.token_shifted();
  VX_CHECK(fetch_lookahead());
  if (errorcount_ > 0) --errorcount_;
  return ok();
}

// --- reduce ------------------------------------------------------------------------

// The goto step from `below` for production p.
Result<uint64_t> ParseRun::goto_target(uint64_t p, uint64_t below) {
  const std::optional<uint32_t> lhs = prog_.prod_lhs[p];
  std::optional<uint64_t> found;
  if (lhs) found = caches_->gotos.get(below, *lhs, [&] { return tables_.goto_target(below, *lhs); });
  return or_parser_error(parse::check_goto(tables_, below, found, *prog_.prod_names[p]));
}

// The end of a default reduction or a value action: the result takes the
// place of the first right-hand-side symbol, whose value it keeps unless
// `value` is given.
Void ParseRun::reduce_in_place(uint64_t p, uint64_t n, Ref value) {
  Result<uint64_t> target = goto_target(p, stack().state_below(n));
  if (!target.ok()) {
    stack().pop(n);  // the stack at the exit shows what lies below the right-hand side
    return std::move(target).error();
  }
  stack().reduce_top(n, prog_.prod_names[p], *target, std::move(value));
  return ok();
}

Void ParseRun::reduce(const parse::Action& act, uint64_t state) {
  const parse::ProductionLists lists{prog_.prod_names.size(), prog_.custom_count, prog_.prod_lens};
  VX_TRY(uint64_t n, or_parser_error(parse::check_reduce(act, state, lists, stack().depth())));
  const uint64_t p = act.target;
  switch (prog_.reduction[p]) {
    case Reduction::Default:
      return reduce_in_place(p, n, Ref());
    case Reduction::Value: {
      VX_TRY(Ref value, value_action(p, n));
      if (restart_requested()) {  // the loop top applies it; the result is dropped
        stack().pop(n);
        return ok();
      }
      return reduce_in_place(p, n, std::move(value));
    }
    case Reduction::Custom:
      break;
  }
  // Callbacks see the stack without the right-hand side.
  rhs_.clear();
  stack().split_top(n, rhs_);
  Result<PyParsedSymbol> res = custom_value(p);
  rhs_.clear();  // the right-hand side goes before anything else runs
  if (!res.ok()) return std::move(res).error();
  if (restart_requested()) return ok();  // the loop top applies it; the result is dropped
  VX_TRY(uint64_t target, goto_target(p, stack().top_state()));
  stack().push(target, std::move(*res));
  return ok();
}

// --- the loop ----------------------------------------------------------------------

Result<Ref> ParseRun::run() {
  VX_CHECK(fetch_lookahead());
  SignalPoll poll;  // a run of reductions over native records calls no Python
  for (;;) {
    if (poll.interrupted()) return Error::pending();
    if (opt_.control) apply_requests();
    const uint64_t state = stack().top_state();
    const parse::Action act = next_action(state);
    switch (act.kind) {
      case parse::Action::Kind::Shift:
        VX_CHECK(shift(act, state));
        break;
      case parse::Action::Kind::Reduce:
        VX_CHECK(reduce(act, state));
        break;
      case parse::Action::Kind::Accept:
        return stack().top_symbol().value.share();
      case parse::Action::Kind::None: {
        VX_TRY(Next next, recover());
        if (next == Next::Return) return std::move(result_);
        break;
      }
    }
  }
}

}  // namespace vx
