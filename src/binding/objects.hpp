// Building Python containers from native data.
#pragma once

#include <utility>

#include "binding/error.hpp"

namespace vx {

[[nodiscard]] inline Result<Ref> checked(PyObject* made) {
  if (!made) return Error::pending();
  return Ref::steal(made);
}
[[nodiscard]] inline Result<Ref> new_dict() { return checked(PyDict_New()); }
[[nodiscard]] inline Result<Ref> new_list(Py_ssize_t n = 0) { return checked(PyList_New(n)); }
[[nodiscard]] inline Result<Ref> new_set() { return checked(PySet_New(nullptr)); }

[[nodiscard]] inline Void dict_set(PyObject* dict, PyObject* key, PyObject* value) {
  if (PyDict_SetItem(dict, key, value) < 0) return Error::pending();
  return ok();
}
[[nodiscard]] inline Void list_append(PyObject* list, PyObject* item) {
  if (PyList_Append(list, item) < 0) return Error::pending();
  return ok();
}
// Stores `item` at index `i` of a list made with new_list(n).
inline void list_put(PyObject* list, Py_ssize_t i, Ref item) { PyList_SET_ITEM(list, i, item.release()); }
[[nodiscard]] inline Void set_add(PyObject* set, PyObject* item) {
  if (PySet_Add(set, item) < 0) return Error::pending();
  return ok();
}

// Attribute `name` (an interned name that may be nullptr with its error
// pending) of `obj`.
[[nodiscard]] inline Result<Ref> get_attr(PyObject* obj, PyObject* name) {
  if (!name) return Error::pending();
  return checked(PyObject_GetAttr(obj, name));
}
// Same, but a missing attribute (AttributeError) is an empty Ref.
[[nodiscard]] inline Result<Ref> get_optional_attr(PyObject* obj, PyObject* name) {
  if (!name) return Error::pending();
  PyObject* out = nullptr;
  if (PyObject_GetOptionalAttr(obj, name, &out) < 0) return Error::pending();
  return Ref::steal(out);
}
[[nodiscard]] inline Void set_attr(PyObject* obj, PyObject* name, PyObject* value) {
  if (!name || PyObject_SetAttr(obj, name, value) < 0) return Error::pending();
  return ok();
}

// callable(*args) by vectorcall; the arguments are borrowed.
template <class... A>
[[nodiscard]] Result<Ref> call(PyObject* callable, A*... args) {
  PyObject* argv[] = {nullptr, args...};
  return checked(PyObject_Vectorcall(callable, argv + 1, sizeof...(args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// A tuple of the given new references (taken over).
template <class... R>
[[nodiscard]] Result<Ref> make_tuple(R&&... items) {
  Ref refs[] = {std::move(items)...};
  Ref t = Ref::steal(PyTuple_New(sizeof...(items)));
  if (!t) return Error::pending();
  for (size_t i = 0; i < sizeof...(items); ++i) PyTuple_SET_ITEM(t.get(), i, refs[i].release());
  return t;
}

}  // namespace vx
