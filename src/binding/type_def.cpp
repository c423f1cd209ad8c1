#include "binding/type_def.hpp"

#include <string>

namespace vx {
namespace {

Error chained(std::string message, Error cause) {
  Error e = Error::make(PyExc_RuntimeError, std::move(message));
  PyObject* exc = e.object();
  PyObject* c = cause.object();
  if (exc && c) PyException_SetCause(exc, Py_NewRef(c));
  return e;
}

}  // namespace

Result<PyTypeObject*> TypeCell::get(PyType_Spec& spec, const char* name, ClassInit init) {
  if (PyTypeObject* t = type_.load(std::memory_order_acquire)) return t;
  Ref made = Ref::steal(PyType_FromSpec(&spec));
  if (!made) return chained(std::string("An error occurred while initializing class ") + name, Error::pending());
  auto* tp = reinterpret_cast<PyTypeObject*>(made.get());
  // A documentation text that is only a signature leaves __doc__ None (the
  // interpreter would store the empty rest of the text).
  Ref doc = Ref::steal(PyObject_GetAttrString(made.get(), "__doc__"));
  if (!doc) {
    PyErr_Clear();
  } else if (PyUnicode_Check(doc.get()) && PyUnicode_GET_LENGTH(doc.get()) == 0) {
    if (PyObject_SetAttrString(made.get(), "__doc__", Py_None) < 0) PyErr_Clear();
  }
  if (init) {
    if (const char* attr = init(tp)) {
      Error cause = Error::pending();
      made.reset();
      return chained(std::string("An error occurred while initializing `") + name + "." + attr + "`", std::move(cause));
    }
  }
  // Publish if still empty; when another thread published its class
  // meanwhile, that one stays and this one is discarded.
  return publish_once(type_, reinterpret_cast<PyTypeObject*>(made.release()));
}

Error no_deleter() { return Error::make(PyExc_AttributeError, "property has no deleter"); }

}  // namespace vx
