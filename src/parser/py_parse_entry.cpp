// LRParserEngine.parse: the arguments, converted in their order into the
// options of one run, and the run itself.
#include "binding/boundary.hpp"
#include "binding/convert.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "parser/py_parse_run.hpp"

namespace vx {
namespace {

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

}  // namespace

PyObject* engine_parse(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kParse::Args a, kParse::bind(args, static_cast<size_t>(nargsf), kwnames));
    PyParserEngine& engine = unbox<PyParserEngine>(self);
    VX_TRY(auto engine_access, borrow_shared(engine.borrow));

    // The arguments, in this order; the style is checked after all of them.
    ParseOptions opt;
    opt.reduce_cb = a["reduce_cb"];
    opt.error_cb = a["error_cb"].given();
    opt.value_funcs = a["value_funcs"].given();
    if (opt.value_funcs && !PyList_Check(opt.value_funcs)) {
      return std::move(cast_error(opt.value_funcs, "list")).with_argument_note(a["value_funcs"].name);
    }
    if (a["with_stack"]) {
      VX_TRY(opt.with_stack, to_bool(a["with_stack"]));
    }
    if (a["prepared_slice"]) {
      VX_TRY(opt.prepared_slice, to_bool(a["prepared_slice"]));
    }
    std::optional<SharedGuard> control_access;
    const Arg control = a["control"];
    if (PyObject* c = control.given()) {
      if (!is_parser_control(c)) return std::move(cast_error(c, "ParserControl")).with_argument_note(control.name);
      opt.control = &unbox<PyParserControl>(c);
      opt.control->thread.check(PyParserControl::kNativeName);
      VX_TRY(SharedGuard g, noted(borrow_shared(opt.control->borrow), control.name));
      control_access.emplace(std::move(g));
    }
    std::optional<std::string> style_name;
    if (a["recovery_style"]) {
      VX_TRY(style_name, to_utf8(a["recovery_style"]));
    }
    const Arg proxy = a["proxy_context"];
    PyObject* proxy_tuple = proxy.given();
    if (proxy_tuple && !PyTuple_Check(proxy_tuple)) {
      return std::move(cast_error(proxy_tuple, "tuple")).with_argument_note(proxy.name);
    }

    // The start of the parse: nothing is read and no callback runs before the first lookahead.
    if (style_name) {
      std::optional<parse::Style> style = parse::style_named(*style_name);
      if (!style) return Error::make(PyExc_ValueError, "Unknown parser recovery style");
      opt.style = *style;
    }
    VX_TRY(opt.proxy, read_proxy_context(proxy_tuple));
    VX_TRY(TokenSource source, TokenSource::select(a["token_stream"]));
    ParseRun run(engine, std::move(opt), std::move(source));
    return run.run();
  });
}

}  // namespace vx
