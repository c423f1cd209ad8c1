#include "parser/py_parsed_symbol.hpp"

#include "binding/args.hpp"
#include "binding/properties.hpp"
#include "binding/recursion.hpp"
#include "binding/strings.hpp"
#include "common/text.hpp"

namespace vx {

PyParsedSymbol PyParsedSymbol::make(std::string name, Ref value, uint64_t lineno, uint64_t endlineno,
                                    uint64_t lexpos, uint64_t endlexpos) {
  return PyParsedSymbol{std::make_shared<const std::string>(std::move(name)), value ? std::move(value) : Ref::none(),
                        lineno, endlineno, lexpos, endlexpos};
}

PyParsedSymbol PyParsedSymbol::clone_symbol() const {
  return PyParsedSymbol{sym_type, value.share(), lineno, endlineno, lexpos, endlexpos};
}

namespace {

TypeCell g_symbol_type;
using Obj = ParsedSymbolObject;

using kNew = VX_SIGNATURE("ParsedSymbol", "ParsedSymbol(sym_type, value=None, lineno=1, endlineno=1, lexpos=0, endlexpos=0)");

Result<Ref> wrap_in(PyTypeObject* tp, PyParsedSymbol sym) {
  VX_TRY(Ref obj, new_box<Obj>(tp));
  unbox<Obj>(obj.get()).sym = std::move(sym);
  return obj;
}

PyObject* symbol_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kNew::Args a, kNew::bind(args, kwargs));
    VX_TRY(std::string name, to_utf8(a["sym_type"]));
    VX_TRY(const uint64_t lineno, to_u64_or(a["lineno"], 1));
    VX_TRY(const uint64_t endlineno, to_u64_or(a["endlineno"], 1));
    VX_TRY(const uint64_t lexpos, to_u64_or(a["lexpos"], 0));
    VX_TRY(const uint64_t endlexpos, to_u64_or(a["endlexpos"], 0));
    return wrap_in(tp, PyParsedSymbol::make(std::move(name), Ref::borrow(a["value"].given()), lineno, endlineno,
                                            lexpos, endlexpos));
  });
}

PyObject* get_type(PyObject* self, void*) {
  return get_property<Obj>(self, [](Obj& o) { return py_str(*o.sym.sym_type); });
}
int set_type(PyObject* self, PyObject* v, void*) {
  return set_property<Obj>(self, v, text_arg("t"), [](Obj& o, auto t) { o.sym.sym_type = std::move(t); });
}
int set_sym_type(PyObject* self, PyObject* v, void*) {
  return set_property<Obj>(self, v, text_arg("value"), [](Obj& o, auto t) { o.sym.sym_type = std::move(t); });
}
PyObject* get_value(PyObject* self, void*) {
  return get_property<Obj>(self, [](Obj& o) -> Result<Ref> { return o.sym.value.share(); });
}
int set_value(PyObject* self, PyObject* v, void*) {
  return set_property<Obj>(self, v, object_arg, [](Obj& o, Ref x) { o.sym.value = std::move(x); });
}
VX_U64_PROPERTY(Obj, get_lineno, set_lineno, sym.lineno, "lineno")
VX_U64_PROPERTY(Obj, get_endlineno, set_endlineno, sym.endlineno, "endlineno")
VX_U64_PROPERTY(Obj, get_lexpos, set_lexpos, sym.lexpos, "lexpos")
VX_U64_PROPERTY(Obj, get_endlexpos, set_endlexpos, sym.endlexpos, "endlexpos")

PyGetSetDef kGetSet[] = {
    {"value", get_value, set_value, nullptr, nullptr},
    {"lineno", get_lineno, set_lineno, nullptr, nullptr},
    {"endlineno", get_endlineno, set_endlineno, nullptr, nullptr},
    {"lexpos", get_lexpos, set_lexpos, nullptr, nullptr},
    {"endlexpos", get_endlexpos, set_endlexpos, nullptr, nullptr},
    {"type", get_type, set_type, nullptr, nullptr},
    {"sym_type", get_type, set_sym_type, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The printed form, once the value's str() is known (`shown`; empty with
// its exception pending when str() failed). Apart from the slot, so that
// its frame is not on the stack while the value, perhaps a symbol again,
// renders (see binding/recursion.hpp).
[[gnu::noinline]] PyObject* symbol_text(const PyParsedSymbol& sym, Ref shown) {
  return boundary([&]() -> Result<Ref> {
    return py_str("ParsedSymbol(type=" + quote_name(*sym.sym_type) + ", value=" +
                  display_text(sym.value.get(), std::move(shown)) + ")");
  });
}

PyObject* symbol_repr(PyObject* self) {
  Obj& o = unbox<Obj>(self);
  if (!o.borrow.try_shared()) return refuse_shared();
  SharedGuard guard(&o.borrow);
  return symbol_text(o.sym, Ref::steal(nested_str(o.sym.value.get())));
}

int symbol_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Obj& o = unbox<Obj>(self);
  if (o.borrow.held_exclusively()) return 0;
  Py_VISIT(o.sym.value.get());
  return 0;
}

int symbol_clear(PyObject* self) {
  return clear_record<Obj>(self, [](Obj& o) { return std::exchange(o.sym.value, Ref::none()); });
}

PyType_Slot kSlots[] = {
    {Py_tp_doc,
     const_cast<char*>(kNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(symbol_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_box<Obj>)},
    {Py_tp_traverse, reinterpret_cast<void*>(symbol_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(symbol_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(symbol_repr)},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.ParsedSymbol",
    .basicsize = sizeof(Box<Obj>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .slots = kSlots,
};

}  // namespace

Result<PyTypeObject*> parsed_symbol_type() { return g_symbol_type.get(kSpec, "ParsedSymbol"); }

Result<Ref> wrap_symbol(PyParsedSymbol sym) {
  VX_TRY(PyTypeObject * tp, parsed_symbol_type());
  return wrap_in(tp, std::move(sym));
}

bool is_parsed_symbol(PyObject* obj) noexcept {
  PyTypeObject* tp = g_symbol_type.peek();
  return tp && Py_IS_TYPE(obj, tp);
}

Result<PyParsedSymbol> copy_symbol_out(PyObject* obj) {
  Obj& o = unbox<Obj>(obj);
  VX_TRY(auto guard, borrow_shared(o.borrow));
  return o.sym.clone_symbol();
}

}  // namespace vx
