// The Python class _ProductionView: a grammar action's view p of one
// reduction. p[0] is the result, p[1] ... p[n] the right-hand side, a slice
// gives a list of values and a negative index reads the stack below.
#pragma once

#include "binding/error.hpp"

namespace vx {

[[nodiscard]] Result<PyTypeObject*> production_view_type();
// True when `obj` is a _ProductionView, of the class itself or a subclass.
[[nodiscard]] bool is_production_view(PyObject* obj) noexcept;
// factory_new(factory, data, stack): a view factory's __new__ called with the
// factory, the reduction data and the parser stack. When that __new__ is
// _ProductionView's own and the factory keeps it, the view is made directly,
// as the call would make it, without an argument tuple.
[[nodiscard]] Result<Ref> call_view_factory(PyObject* factory_new, PyObject* factory, PyObject* data, PyObject* stack);
// True when the view `view` (a _ProductionView) still reads the reduction
// data `data` natively.
[[nodiscard]] bool holds_source(PyObject* view, PyObject* data);

}  // namespace vx
