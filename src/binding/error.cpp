#include "binding/error.hpp"

#include "binding/names.hpp"

namespace vx {
namespace {

PyObject* exception_type(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::Value: return PyExc_ValueError;
    case ErrorKind::Overflow: return PyExc_OverflowError;
    case ErrorKind::Runtime: return PyExc_RuntimeError;
  }
  return PyExc_SystemError;
}

}  // namespace

Error Error::pending() noexcept {
  Error e;
  e.exc_ = Ref::steal(PyErr_GetRaisedException());
  if (!e.exc_) {
    e.type_ = PyExc_SystemError;
    e.message_ = "attempted to fetch exception but none was set";
  }
  return e;
}

Error Error::make(PyObject* type, std::string message) {
  Error e;
  e.type_ = type;
  e.message_ = std::move(message);
  return e;
}

Error Error::from_object(Ref exception) noexcept {
  Error e;
  e.exc_ = std::move(exception);
  return e;
}

Error Error::from_returned(Ref obj) {
  if (!PyExceptionInstance_Check(obj.get())) {
    return make(PyExc_TypeError, "exceptions must derive from BaseException");
  }
  return from_object(std::move(obj));
}

Error::Error(Failure failure) : type_(exception_type(failure.kind)), message_(std::move(failure.message)) {}

void Error::materialize() {
  if (exc_) return;
  Ref msg = Ref::steal(PyUnicode_DecodeUTF8(message_.data(), static_cast<Py_ssize_t>(message_.size()), "surrogatepass"));
  if (msg) exc_ = Ref::steal(PyObject_CallOneArg(type_, msg.get()));
  if (!exc_) exc_ = Ref::steal(PyErr_GetRaisedException());
}

PyObject* Error::object() {
  materialize();
  return exc_.get();
}

bool Error::matches(PyObject* type) {
  if (!exc_) return PyErr_GivenExceptionMatches(type_, type) != 0;
  return PyErr_GivenExceptionMatches(exc_.get(), type) != 0;
}

Error&& Error::with_argument_note(std::string_view name) && {
  materialize();
  if (exc_) {
    Ref note = Ref::steal(PyUnicode_FromFormat("while processing '%.*s'", static_cast<int>(name.size()), name.data()));
    Ref r;
    PyObject* method = note ? names::add_note() : nullptr;
    if (method) r = Ref::steal(PyObject_CallMethodOneArg(exc_.get(), method, note.get()));
    if (!r) PyErr_Clear();
  }
  return std::move(*this);
}

void Error::raise() && noexcept {
  materialize();
  if (exc_) {
    PyErr_SetRaisedException(exc_.release());
  } else {
    PyErr_SetString(PyExc_SystemError, "error without an exception");
  }
}

Error cast_error(PyObject* obj, std::string_view expected) {
  std::string msg;
  if (obj == Py_None) {
    msg = "'None' is not an instance of '";
  } else {
    Ref qual = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    const char* q = qual ? PyUnicode_AsUTF8(qual.get()) : nullptr;
    if (!q) {
      PyErr_Clear();
      q = Py_TYPE(obj)->tp_name;
    }
    msg = "'";
    msg += q;
    msg += "' object is not an instance of '";
  }
  msg += expected;
  msg += "'";
  return Error::make(PyExc_TypeError, std::move(msg));
}

}  // namespace vx
