// _binding_probe: a test-only module that drives the binding layer directly,
// for the conventions no class of the extension reaches on its own yet.
#include <string>

#include "binding/args.hpp"
#include "binding/boundary.hpp"
#include "binding/convert.hpp"

namespace {

using namespace vx;

// bind(a, b, /, c=None, *, d, e=None): returns the five values, None where absent.
using kBind = VX_SIGNATURE("", "bind(a, b, /, c=None, *, d, e=None)");

PyObject* bind(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kBind::Args a, kBind::bind(args, static_cast<size_t>(nargsf), kwnames));
    Ref t = Ref::steal(PyTuple_New(5));
    if (!t) return Error::pending();
    const Arg bound[] = {a["a"], a["b"], a["c"], a["d"], a["e"]};
    for (int i = 0; i < 5; ++i) PyTuple_SET_ITEM(t.get(), i, Py_NewRef(bound[i] ? bound[i] : Py_None));
    return t;
  });
}

// convert(kind, value): converts `value` (note "value") by the named converter.
using kConvert = VX_SIGNATURE("", "convert(kind, value)");

template <class T>
Result<Ref> as_int(Result<T> r) {
  if (!r.ok()) return std::move(r).error();
  return py_int_signed(static_cast<int64_t>(r.value()));
}

PyObject* convert(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kConvert::Args a, kConvert::bind(args, static_cast<size_t>(nargsf), kwnames));
    VX_TRY(std::string kind, to_utf8(a["kind"]));
    PyObject* v = a["value"];
    if (kind == "u32") return as_int(to_u32(v, "value"));
    if (kind == "i32") return as_int(to_i32(v, "value"));
    if (kind == "u64") {
      VX_TRY(uint64_t n, to_u64(v, "value"));
      return py_int(n);
    }
    if (kind == "bool") {
      VX_TRY(bool b, to_bool(v, "value"));
      return py_bool(b);
    }
    if (kind == "str") {
      VX_TRY(std::string s, to_utf8(v, "value"));
      return py_str(s);
    }
    if (kind == "list") {
      VX_TRY(auto items, to_item_list(v, "value"));
      Ref list = Ref::steal(PyList_New(0));
      if (!list) return Error::pending();
      for (auto& item : items) {
        if (PyList_Append(list.get(), item.get()) < 0) return Error::pending();
      }
      return list;
    }
    if (kind == "tuple2") {
      VX_CHECK(check_tuple(v, 2, "value"));
      return Ref::borrow(v);
    }
    return Error::make(PyExc_ValueError, "unknown kind");
  });
}

PyObject* internal_failure_now(PyObject*, PyObject* msg) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(std::string text, to_utf8(msg, "message"));
    vx::internal_failure(text);
  });
}

PyObject* panic_type(PyObject*, PyObject*) {
  return boundary([]() -> Result<Ref> { return Ref::borrow(panic_exception_type()); });
}

PyMethodDef kMethods[] = {
    {"bind", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(bind)), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"convert", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(convert)), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"internal_failure", internal_failure_now, METH_O, nullptr},
    {"panic_type", panic_type, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_binding_probe",
    .m_doc = nullptr,
    .m_size = 0,
    .m_methods = kMethods,
};

}  // namespace

PyMODINIT_FUNC PyInit__binding_probe() { return PyModuleDef_Init(&kModule); }
