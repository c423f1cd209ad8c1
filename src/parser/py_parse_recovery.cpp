// Error recovery: what the parse loop does when the table has no action for
// the current state and lookahead. The decisions themselves are plain
// (parse_step.hpp); this file calls error_cb and carries them out.
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
  static const auto name = std::make_shared<const std::string>("error");
  return PyParsedSymbol{name, real.value.share(), real.lineno, real.endlineno, real.lexpos, real.endlexpos};
}

}  // namespace

// The error symbol takes the lookahead's place; the real one is set aside.
void ParseRun::insert_error_symbol() {
  PyParsedSymbol stand_in = error_symbol(la_.sym);
  saved_.emplace(std::move(la_));
  set_lookahead(std::move(stand_in));
  errorcount_ = parse::kErrorShifts;
  guard_.inserted(stack().depth());
}

Result<ParseRun::Next> ParseRun::panic_step() {
  const bool top_is_error = *stack().top_symbol().sym_type == "error";
  switch (parse::panic_step(top_is_error, is_end(la_.sym), guard_.stuck(stack().depth()))) {
    case parse::PanicStep::EndOfInput:
      return syntax_error("Syntax error at EOF on line " + std::to_string(la_.sym.lineno) + ", pos " +
                          std::to_string(la_.sym.lexpos));
    case parse::PanicStep::DiscardToken:
      VX_CHECK(fetch_lookahead());
      return Next::Continue;
    case parse::PanicStep::SkipAndInsert:
      guard_.fired();
      VX_CHECK(fetch_lookahead());
      insert_error_symbol();
      return Next::Continue;
    case parse::PanicStep::InsertError:
      insert_error_symbol();
      return Next::Continue;
  }
  return Next::Continue;
}

// No action while the error symbol is the lookahead: pop one entry, or give up.
Result<ParseRun::Next> ParseRun::pop_in_error_mode() {
  if (stack().depth() <= 1) {
    const PyParsedSymbol& real = saved_->sym;
    return syntax_error("Syntax error at " + display_repr(real.value.get()) + " (type " +
                        quote_name(*real.sym_type) + ") on line " + std::to_string(real.lineno) + ", pos " +
                        std::to_string(real.lexpos));
  }
  stack().pop(1);
  return Next::Continue;
}

Result<ParseRun::Next> ParseRun::recover() {
  if (saved_) return pop_in_error_mode();
  if (!opt_.error_cb || errorcount_ != 0) return panic_step();

  VX_TRY(Ref copy, wrap_symbol(la_.sym.clone_symbol()));
  VX_TRY(Ref cb_result, checked(PyObject_CallOneArg(opt_.error_cb, copy.get())));
  copy.reset();
  PyParserControl* control = opt_.control;
  const parse::CallbackReport report{
      control && control->errok(),
      control && control->restart(),
      cb_result.get() != Py_None,
      is_end(la_.sym),
  };
  switch (parse::after_callback(opt_.style, report)) {
    case parse::AfterCallback::Resume: {
      if (control) control->take_errok();
      saved_.reset();
      if (cb_result.get() != Py_None) {
        VX_CHECK(take_lookahead(cb_result.get()));
      } else {
        VX_CHECK(fetch_lookahead());
      }
      errorcount_ = 0;
      return Next::Continue;
    }
    case parse::AfterCallback::ReturnResult:
      result_ = std::move(cb_result);
      return Next::Return;
    case parse::AfterCallback::ReturnNone:
      result_ = Ref::none();
      return Next::Return;
    case parse::AfterCallback::Discard:
      VX_CHECK(fetch_lookahead());
      errorcount_ = parse::kErrorShifts;
      return Next::Continue;
    case parse::AfterCallback::Panic:
      return panic_step();
  }
  return Next::Continue;
}

}  // namespace vx
