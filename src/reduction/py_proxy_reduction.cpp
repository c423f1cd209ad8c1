// The native proxy reduction: the right-hand side stays native inside one
// _ReductionData, the package's view factory wraps it in a _ProductionView
// subclass, and the package's invoke runs the action on that view.
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "reduction/py_proxy_reduction.hpp"
#include "reduction/py_production_view.hpp"
#include "reduction/py_reduction_data.hpp"

namespace vx {

Result<PyParsedSymbol> native_proxy_reduce(const ProxyContext& ctx, PyObject* production, PyParsedSymbol result,
                                           std::span<PyParsedSymbol> rhs, PyObject* stack) {
  VX_TRY(Ref func, get_attr(production, names::func()));
  VX_TRY(Ref data_obj, new_reduction_data(std::move(result), rhs));
  ReductionData& data = reduction_data(data_obj.get());
  Ref value;
  if (func.get() == Py_None) {
    // No action: no view is made and the value is the initial one.
    VX_TRY(value, data.result(Ref::none()));
    data.release_rhs_guard();
  } else {
    VX_TRY(Ref view, call_view_factory(ctx.factory_new.get(), ctx.factory.get(), data_obj.get(), stack));
    VX_CHECK(set_attr(view.get(), names::lexer(), ctx.lexer.get()));
    VX_CHECK(set_attr(view.get(), names::parser(), ctx.parser.get()));
    VX_TRY(Ref namemap, get_attr(production, names::namemap()));
    VX_CHECK(set_attr(view.get(), names::_namemap(), namemap.get()));
    VX_TRY(Ref returned, call(ctx.invoke.get(), func.get(), view.get(), data_obj.get()));
    VX_TRY(value, data.result(std::move(returned)));
    if (!is_production_view(view.get())) return cast_error(view.get(), "_ProductionView");
    // A view that still reads the data keeps the right-hand side alive, so a
    // view the action kept goes on answering after the reduction.
    if (!holds_source(view.get(), data_obj.get())) data.release_rhs_guard();
  }
  VX_TRY(PyParsedSymbol pushed, data.lhs_snapshot());
  pushed.value = std::move(value);
  return pushed;
}

}  // namespace vx
