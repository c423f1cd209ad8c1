#include "parser/py_parser_control.hpp"

#include "binding/args.hpp"
#include "binding/objects.hpp"

namespace vx {

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

}  // namespace vx
