// The extension module _core_rs: multi-phase initialisation, the function
// version() and the registration of the classes.
#include "binding/boundary.hpp"
#include "binding/convert.hpp"
#include "grammar/py_grammar.hpp"
#include "lexer/py_lexer_engine.hpp"
#include "lexer/py_token.hpp"
#include "lr_table/py_lr_table.hpp"
#include "parser/py_parsed_symbol.hpp"
#include "parser/py_parser_engine.hpp"
#include "parser/py_parser_control.hpp"
#include "parser/py_token_cursor.hpp"
#include "reduction/py_production_view.hpp"
#include "reduction/py_reduction_data.hpp"

namespace vx {
namespace {

PyObject* version(PyObject*, PyObject*) {
  return boundary([]() { return py_str("0.1.0-rust"); });
}

PyMethodDef kVersionDef = {"version", version, METH_NOARGS, "version()\n--\n\n"};

// Appends `name` to the module's __all__ (made when absent), then sets the
// attribute. A failure to set leaves the name in __all__.
Void register_attr(PyObject* module, const char* name, PyObject* obj) {
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    Error e = Error::pending();
    if (!e.matches(PyExc_AttributeError)) return e;
    all = Ref::steal(PyList_New(0));
    if (!all) return Error::pending();
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return Error::pending();
  } else if (!PyList_Check(all.get())) {
    return cast_error(all.get(), "list");
  }
  Ref text = Ref::steal(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) < 0) return Error::pending();
  if (PyObject_SetAttrString(module, name, obj) < 0) return Error::pending();
  return ok();
}

using ClassGetter = Result<PyTypeObject*> (*)();

// Registration order of the classes.
struct ClassEntry {
  const char* name;
  ClassGetter get;
};
const ClassEntry kClasses[] = {
    {"Grammar", grammar_type},
    {"LRTable", lr_table_type},
    {"ParsedSymbol", parsed_symbol_type},
    {"LRParserEngine", parser_engine_type},
    {"ParserControl", parser_control_type},
    {"TokenCursor", token_cursor_type},
    {"_ProductionView", production_view_type},
    {"_ReductionData", reduction_data_type},
    {"Token", token_type},
    {"LexerEngine", lexer_engine_type},
};

Void fill_module(PyObject* module) {
  Ref modname = Ref::steal(PyModule_GetNameObject(module));
  if (!modname) return Error::pending();
  Ref fn = Ref::steal(PyCFunction_NewEx(&kVersionDef, module, modname.get()));
  if (!fn) return Error::pending();
  VX_CHECK(register_attr(module, "version", fn.get()));
  for (const ClassEntry& c : kClasses) {
    VX_TRY(PyTypeObject * tp, c.get());
    VX_CHECK(register_attr(module, c.name, reinterpret_cast<PyObject*>(tp)));
  }
  return ok();
}

int exec_module(PyObject* module) {
  return boundary_int([&]() -> Void {
    if (!module) return Error::pending();
    if (!PyModule_Check(module)) return cast_error(module, "module");
    return fill_module(module);
  });
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef kModule = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_core_rs",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = kSlots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace vx

PyMODINIT_FUNC PyInit__core_rs() { return PyModuleDef_Init(&vx::kModule); }
