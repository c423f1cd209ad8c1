#include "parser/py_parser_objects.hpp"

#include "binding/args.hpp"
#include "binding/convert.hpp"
#include "binding/objects.hpp"
#include "binding/properties.hpp"

namespace vx {

// --- TokenCursor ----------------------------------------------------------------

namespace {

TypeCell g_cursor_type;
using Cursor = PyTokenCursor;
using kCursorNew = VX_SIGNATURE("TokenCursor", "TokenCursor(tokens)");

PyObject* cursor_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kCursorNew::Args a, kCursorNew::bind(args, kwargs));
    VX_TRY(Ref it, checked(PyObject_GetIter(a[0])));
    return new_box<Cursor>(tp, std::move(it));
  });
}

Result<Ref> cursor_iter_impl(PyObject* self, Cursor&) { return Ref::borrow(self); }

PyObject* cursor_iternext(PyObject* self) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, enter_bound<Cursor>(self));
    VX_TRY(Ref item, cursor_next_item(unbox<Cursor>(self)));
    if (!item) {
      PyErr_SetNone(PyExc_StopIteration);
      return Error::pending();
    }
    return item;
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

// --- ParserControl ----------------------------------------------------------------

namespace {

TypeCell g_control_type;
using Control = PyParserControl;
using kControlNew = VX_SIGNATURE("ParserControl", "ParserControl()");

PyObject* control_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_CHECK(kControlNew::bind(args, kwargs));
    return new_box<Control>(tp);
  });
}

Result<Ref> errok_impl(PyObject*, Control& c) {
  c.errok_requested.with([](bool& b) { b = true; });
  return Ref::none();
}

Result<Ref> restart_impl(PyObject*, Control& c) {
  c.restart_requested.with([](bool& b) { b = true; });
  return Ref::none();
}

PyMethodDef kControlMethods[] = {
    {"errok", bound_noargs<Control, errok_impl>, METH_NOARGS, "errok($self)\n--\n\n"},
    {"restart", bound_noargs<Control, restart_impl>, METH_NOARGS, "restart($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kControlSlots[] = {
    {Py_tp_doc, const_cast<char*>(kControlNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(control_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(bound_dealloc<Control>)},
    {Py_tp_methods, kControlMethods},
    {0, nullptr},
};

PyType_Spec kControlSpec = {
    .name = "builtins.ParserControl",
    .basicsize = sizeof(Box<Control>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = kControlSlots,
};

}  // namespace

Result<PyTypeObject*> parser_control_type() { return g_control_type.get(kControlSpec, "ParserControl"); }

bool is_parser_control(PyObject* obj) noexcept {
  PyTypeObject* tp = g_control_type.peek();
  return tp && Py_IS_TYPE(obj, tp);
}

// --- ParserStack ----------------------------------------------------------------

namespace {

TypeCell g_stack_type;
using Stack = PyParserStack;

Result<Ref> stack_item(PyObject* self, int64_t i) {
  Stack& s = unbox<Stack>(self);
  VX_TRY(auto guard, borrow_shared(s.borrow));
  const auto n = static_cast<int64_t>(s.visible());
  if (i < 0) i += n;
  if (i < 0 || i >= n) return Error::make(PyExc_IndexError, "parser stack index out of range");
  PyParsedSymbol copy = s.symbols[static_cast<size_t>(i)].clone_symbol();
  return wrap_symbol(std::move(copy));
}

PyObject* stack_subscript(PyObject* self, PyObject* key) {
  return boundary([&]() -> Result<Ref> {
    Ref index = Ref::steal(PyNumber_Index(key));
    if (!index) return std::move(Error::pending()).with_argument_note("index");
    long long i = PyLong_AsLongLong(index.get());
    if (i == -1 && PyErr_Occurred()) return std::move(Error::pending()).with_argument_note("index");
    return stack_item(self, i);
  });
}

PyObject* stack_sq_item(PyObject* self, Py_ssize_t i) {
  return boundary([&]() -> Result<Ref> { return stack_item(self, i); });
}

int stack_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Stack& s = unbox<Stack>(self);
  if (s.borrow.held_exclusively()) return 0;
  for (const PyParsedSymbol& sym : s.symbols) Py_VISIT(sym.value.get());
  return 0;
}

int stack_clear(PyObject* self) {
  return clear_record<Stack>(self, [](Stack& s) {
    s.hidden = 0;
    return std::exchange(s.symbols, {});
  });
}

PyType_Slot kStackSlots[] = {
    {Py_tp_doc, const_cast<char*>("A live stack view for proxy actions. Symbols are converted only on access,\n"
                                  "so deeply nested inputs do not copy the entire stack on every reduction.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_box<Stack>)},
    {Py_tp_traverse, reinterpret_cast<void*>(stack_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(stack_clear)},
    {Py_mp_subscript, reinterpret_cast<void*>(stack_subscript)},
    {Py_sq_item, reinterpret_cast<void*>(stack_sq_item)},
    {0, nullptr},
};

PyType_Spec kStackSpec = {
    .name = "builtins.ParserStack",
    .basicsize = sizeof(Box<Stack>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = kStackSlots,
};

}  // namespace

Result<PyTypeObject*> parser_stack_type() { return g_stack_type.get(kStackSpec, "ParserStack"); }

PyParsedSymbol bottom_symbol() { return PyParsedSymbol::make("$end", Ref(), 1, 1, 0, 0); }

Result<Ref> new_parser_stack() {
  VX_TRY(PyTypeObject * tp, parser_stack_type());
  VX_TRY(Ref obj, new_box<Stack>(tp));
  unbox<Stack>(obj.get()).symbols.push_back(bottom_symbol());
  return obj;
}

}  // namespace vx
