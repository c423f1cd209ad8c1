#include "parser/py_token_cursor.hpp"

#include "binding/args.hpp"
#include "binding/convert.hpp"
#include "binding/objects.hpp"

namespace vx {

namespace {

TypeCell g_cursor_type;
using Cursor = PyTokenCursor;
using kCursorNew = VX_SIGNATURE("TokenCursor", "TokenCursor(tokens)");

PyObject* cursor_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kCursorNew::Args a, kCursorNew::bind(args, kwargs));
    VX_TRY(Ref it, checked(PyObject_GetIter(a["tokens"])));
    return new_box<Cursor>(tp, std::move(it));
  });
}

Result<Ref> cursor_iter_impl(PyObject* self, Cursor&) { return Ref::borrow(self); }

// At the end the result is empty, and NULL with no exception set is how
// tp_iternext says that the iterator is exhausted.
PyObject* cursor_iternext(PyObject* self) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, enter_bound<Cursor>(self));
    return cursor_next_item(unbox<Cursor>(self));
  });
}

PyObject* cursor_iter(PyObject* self) { return bound_noargs<Cursor, cursor_iter_impl>(self, nullptr); }

int cursor_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (!bound_traversable<Cursor>(self)) return 0;
  Py_VISIT(unbox<Cursor>(self).iterator.get());
  return 0;
}

int cursor_clear(PyObject* self) {
  return bound_clear<Cursor>(self, [](Cursor& c) {
    c.exhausted.with([](bool& b) { b = true; });
    return std::exchange(c.iterator, Ref());
  });
}

PyType_Slot kCursorSlots[] = {
    {Py_tp_doc, const_cast<char*>(kCursorNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(cursor_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(bound_dealloc<Cursor>)},
    {Py_tp_traverse, reinterpret_cast<void*>(cursor_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(cursor_clear)},
    {Py_tp_iter, reinterpret_cast<void*>(cursor_iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(cursor_iternext)},
    {0, nullptr},
};

PyType_Spec kCursorSpec = {
    .name = "builtins.TokenCursor",
    .basicsize = sizeof(Box<Cursor>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .slots = kCursorSlots,
};

}  // namespace

Result<PyTypeObject*> token_cursor_type() { return g_cursor_type.get(kCursorSpec, "TokenCursor"); }

bool is_token_cursor(PyObject* obj) noexcept {
  PyTypeObject* tp = g_cursor_type.peek();
  return tp && Py_IS_TYPE(obj, tp);
}

Result<Ref> cursor_next_item(PyTokenCursor& c) {
  if (c.exhausted.with([](bool& b) { return b; })) return Ref();
  // Only a clear empties the iterator, and a clear also sets `exhausted`.
  Ref it = c.iterator.share();
  if (!it) return Ref();
  if (!PyIter_Check(it.get())) return cast_error(it.get(), "Iterator");  // its type lost __next__
  Ref item = Ref::steal(Py_TYPE(it.get())->tp_iternext(it.get()));
  if (item) return item;
  if (PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_StopIteration)) return Error::pending();
    PyErr_Clear();
  }
  c.exhausted.with([](bool& b) { b = true; });
  return Ref();
}

}  // namespace vx
