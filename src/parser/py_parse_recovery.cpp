// Error recovery: what the parse loop does when the table has no action for
// the current state and lookahead. The decisions themselves are plain
// (parse_step.hpp); this file calls error_cb and carries them out.
#include "binding/convert.hpp"
#include "binding/objects.hpp"
#include "binding/strings.hpp"
#include "common/text.hpp"
#include "parser/py_parse_run.hpp"

namespace vx {
namespace {

bool is_end(const PyParsedSymbol& sym) { return *sym.sym_type == "$end"; }

Error syntax_error(std::string message) { return Error::make(PyExc_SyntaxError, std::move(message)); }

// The error symbol standing in for `real`: type "error", the same value and positions.
PyParsedSymbol error_symbol(const PyParsedSymbol& real) {
  return PyParsedSymbol{std::make_shared<const std::string>("error"), real.value.share(), real.lineno,
                        real.endlineno, real.lexpos, real.endlexpos};
}

// The error symbol takes the lookahead's place; the real one is set aside.
void insert_error_symbol(ParseRun& r) {
  PyParsedSymbol stand_in = error_symbol(r.la.sym);
  r.saved.emplace(std::move(r.la));
  r.set_lookahead(std::move(stand_in));
  r.errorcount = parse::kErrorShifts;
  ++r.insertions;
}

Result<Next> panic_step(ParseRun& r) {
  const bool top_is_error =
      r.with_symbols([](std::vector<PyParsedSymbol>& s) { return *s.back().sym_type == "error"; });
  switch (parse::panic_step(top_is_error, is_end(r.la.sym), r.insertions >= parse::kMaxInsertions)) {
    case parse::PanicStep::EndOfInput:
      return syntax_error("Syntax error at EOF on line " + std::to_string(r.la.sym.lineno) + ", pos " +
                          std::to_string(r.la.sym.lexpos));
    case parse::PanicStep::DiscardToken:
      VX_CHECK(r.fetch_lookahead());
      return Next::Continue;
    case parse::PanicStep::SkipAndInsert:
      VX_CHECK(r.fetch_lookahead());
      insert_error_symbol(r);
      return Next::Continue;
    case parse::PanicStep::InsertError:
      insert_error_symbol(r);
      return Next::Continue;
  }
  return Next::Continue;
}

// No action while the error symbol is the lookahead: pop one state, or give up.
Result<Next> pop_in_error_mode(ParseRun& r) {
  if (r.depth() <= 1) {
    const PyParsedSymbol& real = r.saved->sym;
    return syntax_error("Syntax error at " + display_repr(real.value.get()) + " (type " +
                        quote_name(*real.sym_type) + ") on line " + std::to_string(real.lineno) + ", pos " +
                        std::to_string(real.lexpos));
  }
  r.states.pop_back();
  r.drop_top(1);
  return Next::Continue;
}

}  // namespace

Result<Next> ParseRun::recover() {
  if (saved) return pop_in_error_mode(*this);
  if (!error_cb || errorcount != 0) return panic_step(*this);

  VX_TRY(Ref copy, wrap_symbol(la.sym.clone_symbol()));
  VX_TRY(Ref cb_result, checked(PyObject_CallOneArg(error_cb, copy.get())));
  copy.reset();
  const parse::CallbackReport report{
      control && control->errok(),
      control && control->restart(),
      cb_result.get() != Py_None,
      is_end(la.sym),
  };
  switch (parse::after_callback(style, report)) {
    case parse::AfterCallback::Resume: {
      if (control) control->take_errok();
      saved.reset();
      if (cb_result.get() != Py_None) {
        VX_CHECK(take_lookahead(cb_result.get()));
      } else {
        VX_CHECK(fetch_lookahead());
      }
      errorcount = 0;
      return Next::Continue;
    }
    case parse::AfterCallback::ReturnResult:
      result = std::move(cb_result);
      return Next::Return;
    case parse::AfterCallback::ReturnNone:
      result = Ref::none();
      return Next::Return;
    case parse::AfterCallback::Discard:
      VX_CHECK(fetch_lookahead());
      errorcount = parse::kErrorShifts;
      return Next::Continue;
    case parse::AfterCallback::Panic:
      return panic_step(*this);
  }
  return Next::Continue;
}

}  // namespace vx
