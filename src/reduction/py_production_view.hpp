// The Python class _ProductionView: a grammar action's view p of one
// reduction. p[0] is the result, p[1] ... p[n] the right-hand side, a slice
// gives a list of values and a negative index reads the stack below.
#pragma once

#include "binding/error.hpp"

namespace vx {

[[nodiscard]] Result<PyTypeObject*> production_view_type();
// True when `obj` is a _ProductionView, of the class itself or a subclass.
[[nodiscard]] bool is_production_view(PyObject* obj) noexcept;
// True when the view `view` (a _ProductionView) still reads the reduction
// data `data` natively.
[[nodiscard]] bool holds_source(PyObject* view, PyObject* data);

}  // namespace vx
