#include "binding/convert.hpp"

#include <algorithm>
#include <cstring>

#include "binding/imports.hpp"

namespace vx {
namespace {

Error conversion_failure(std::string_view name) {
  Error e = Error::pending();
  if (!name.empty()) return std::move(e).with_argument_note(name);
  return e;
}

Error noted_error(Error e, std::string_view name) {
  if (!name.empty()) return std::move(e).with_argument_note(name);
  return e;
}

// Items reserved up front for a sequence, whatever length it reports.
constexpr Py_ssize_t kMaxReservation = 1024;

Error out_of_range(std::string_view name) {
  return noted_error(Error::make(PyExc_OverflowError, "out of range integral type conversion attempted"), name);
}

// Reads an integer through the index protocol for a 32-bit parameter. A
// value that fits in 64 bits but not in [lo, hi] is "out of range integral
// type conversion attempted"; a larger one keeps the interpreter's own
// OverflowError from the 64-bit conversion.
Result<long long> index_in_range(PyObject* obj, long long lo, long long hi, std::string_view name) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) return conversion_failure(name);
  long v = PyLong_AsLong(index.get());
  if (v == -1 && PyErr_Occurred()) return conversion_failure(name);
  if (v < lo || v > hi) return out_of_range(name);
  return v;
}

}  // namespace

Result<std::string> to_utf8(PyObject* obj, std::string_view name) {
  if (!PyUnicode_Check(obj)) return noted_error(cast_error(obj, "str"), name);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (!data) return conversion_failure(name);
  return std::string(data, static_cast<size_t>(size));
}

Result<std::shared_ptr<const std::string>> to_shared_text(PyObject* obj, std::string_view name) {
  VX_TRY(std::string s, to_utf8(obj, name));
  return std::make_shared<const std::string>(std::move(s));
}

Result<uint64_t> to_u64(PyObject* obj, std::string_view name) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) return conversion_failure(name);
  unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return conversion_failure(name);
  return static_cast<uint64_t>(v);
}

Result<uint32_t> to_u32(PyObject* obj, std::string_view name) {
  VX_TRY(long long v, index_in_range(obj, 0, UINT32_MAX, name));
  return static_cast<uint32_t>(v);
}

Result<int32_t> to_i32(PyObject* obj, std::string_view name) {
  VX_TRY(long long v, index_in_range(obj, INT32_MIN, INT32_MAX, name));
  return static_cast<int32_t>(v);
}

Result<bool> to_bool(PyObject* obj, std::string_view name) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  // NumPy's boolean scalar, recognised by its type's name so that NumPy need
  // not be imported.
  const char* tn = Py_TYPE(obj)->tp_name;
  if (std::strcmp(tn, "numpy.bool") == 0 || std::strcmp(tn, "numpy.bool_") == 0) {
    int t = PyObject_IsTrue(obj);
    if (t < 0) return conversion_failure(name);
    return t != 0;
  }
  return noted_error(cast_error(obj, "bool"), name);
}

Result<std::vector<Ref>> to_item_list(PyObject* obj, std::string_view name) {
  if (PyUnicode_Check(obj)) return noted_error(Error::make(PyExc_TypeError, "Can't extract `str` to `Vec`"), name);
  if (!PyList_Check(obj) && !PyTuple_Check(obj)) {
    // Anything else must be a collections.abc.Sequence (registered virtual
    // subclasses included); an object that merely has __getitem__ is not.
    VX_TRY(PyObject* seq_abc, noted(abc_sequence(), name));
    int is = PyObject_IsInstance(obj, seq_abc);
    if (is < 0) return conversion_failure(name);
    if (!is) return noted_error(cast_error(obj, "Sequence"), name);
  }
  // The length is only a promise of the object: its failure is the
  // conversion's failure, and it sizes no more than a modest reservation;
  // the list grows by what the iteration actually gives.
  const Py_ssize_t length = PySequence_Size(obj);
  if (length < 0) return conversion_failure(name);
  std::vector<Ref> items;
  items.reserve(static_cast<size_t>(std::min<Py_ssize_t>(length, kMaxReservation)));
  Ref it = Ref::steal(PyObject_GetIter(obj));
  if (!it) return conversion_failure(name);
  while (PyObject* item = PyIter_Next(it.get())) items.push_back(Ref::steal(item));
  if (PyErr_Occurred()) return conversion_failure(name);
  return items;
}

Result<std::vector<std::string>> to_text_list(PyObject* obj, std::string_view name) {
  VX_TRY(std::vector<Ref> items, to_item_list(obj, name));
  std::vector<std::string> out;
  out.reserve(items.size());
  for (const Ref& item : items) {
    VX_TRY(std::string s, to_utf8(item.get(), name));
    out.push_back(std::move(s));
  }
  return out;
}

Result<std::optional<std::string>> to_optional_utf8(PyObject* obj, std::string_view name) {
  if (!obj || obj == Py_None) return std::optional<std::string>();
  VX_TRY(std::string s, to_utf8(obj, name));
  return std::optional<std::string>(std::move(s));
}

Void check_str(PyObject* obj, std::string_view name) {
  if (!PyUnicode_Check(obj)) return noted_error(cast_error(obj, "str"), name);
  return ok();
}

Void check_dict(PyObject* obj, std::string_view name) {
  if (!PyDict_Check(obj)) return noted_error(cast_error(obj, "dict"), name);
  return ok();
}

Void check_tuple(PyObject* obj, Py_ssize_t length, std::string_view name) {
  if (!PyTuple_Check(obj)) return noted_error(cast_error(obj, "tuple"), name);
  Py_ssize_t n = PyTuple_GET_SIZE(obj);
  if (n != length) {
    return noted_error(Error::make(PyExc_ValueError, "expected tuple of length " + std::to_string(length) +
                                                         ", but got tuple of length " + std::to_string(n)),
                       name);
  }
  return ok();
}

Result<Ref> py_str(std::string_view utf8) {
  PyObject* s = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "surrogatepass");
  if (!s) return Error::pending();
  return Ref::steal(s);
}

Result<Ref> py_int(uint64_t v) {
  PyObject* o = PyLong_FromUnsignedLongLong(v);
  if (!o) return Error::pending();
  return Ref::steal(o);
}

Result<Ref> py_int_signed(int64_t v) {
  PyObject* o = PyLong_FromLongLong(v);
  if (!o) return Error::pending();
  return Ref::steal(o);
}

}  // namespace vx
