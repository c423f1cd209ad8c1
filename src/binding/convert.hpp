// Conversions of Python arguments to native values.
//
// Each converter takes the object and the name used in the conversion note;
// a failure keeps the conversion's own exception and gains the note
// "while processing '{name}'". Pass an empty name for values that are not
// method arguments (items, results of calls): they get no note.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/args.hpp"
#include "binding/error.hpp"

namespace vx {

// A `str` (or subclass) as UTF-8; a lone surrogate gives UnicodeEncodeError.
[[nodiscard]] Result<std::string> to_utf8(PyObject* obj, std::string_view name);
// Same, as shared immutable text.
[[nodiscard]] Result<std::shared_ptr<const std::string>> to_shared_text(PyObject* obj, std::string_view name);
// Integers by the index protocol.
[[nodiscard]] Result<uint64_t> to_u64(PyObject* obj, std::string_view name);
// The same for an optional argument: `absent` when `obj` is null.
[[nodiscard]] inline Result<uint64_t> to_u64_or(PyObject* obj, uint64_t absent, std::string_view name) {
  if (!obj) return absent;
  return to_u64(obj, name);
}
[[nodiscard]] Result<uint32_t> to_u32(PyObject* obj, std::string_view name);
[[nodiscard]] Result<int32_t> to_i32(PyObject* obj, std::string_view name);
// No text for None (or an omitted argument, nullptr), else as to_utf8.
[[nodiscard]] Result<std::optional<std::string>> to_optional_utf8(PyObject* obj, std::string_view name);
// True or False (or NumPy's boolean scalar) only.
[[nodiscard]] Result<bool> to_bool(PyObject* obj, std::string_view name);
// The items of a sequence other than `str`, as new references.
[[nodiscard]] Result<std::vector<Ref>> to_item_list(PyObject* obj, std::string_view name);
// The items of a sequence other than `str`, each a `str`, as UTF-8 texts.
[[nodiscard]] Result<std::vector<std::string>> to_text_list(PyObject* obj, std::string_view name);
// A tuple (or subclass) of exactly `length` items.
[[nodiscard]] Void check_tuple(PyObject* obj, Py_ssize_t length, std::string_view name);
// A `str` (or subclass instance): otherwise TypeError "'{}' object is not an
// instance of 'str'", with the note naming `name` unless it is empty.
[[nodiscard]] Void check_str(PyObject* obj, std::string_view name);
// A `dict` (or subclass instance): otherwise TypeError "'{}' object is not an
// instance of 'dict'", with the note naming `name` unless it is empty.
[[nodiscard]] Void check_dict(PyObject* obj, std::string_view name);

// The same for a bound argument: the note names its parameter.
[[nodiscard]] inline Result<std::string> to_utf8(Arg a) { return to_utf8(a.value, a.name); }
[[nodiscard]] inline Result<std::shared_ptr<const std::string>> to_shared_text(Arg a) {
  return to_shared_text(a.value, a.name);
}
[[nodiscard]] inline Result<uint64_t> to_u64(Arg a) { return to_u64(a.value, a.name); }
[[nodiscard]] inline Result<uint64_t> to_u64_or(Arg a, uint64_t absent) { return to_u64_or(a.value, absent, a.name); }
[[nodiscard]] inline Result<int32_t> to_i32(Arg a) { return to_i32(a.value, a.name); }
[[nodiscard]] inline Result<std::optional<std::string>> to_optional_utf8(Arg a) {
  return to_optional_utf8(a.value, a.name);
}
[[nodiscard]] inline Result<bool> to_bool(Arg a) { return to_bool(a.value, a.name); }
[[nodiscard]] inline Result<std::vector<Ref>> to_item_list(Arg a) { return to_item_list(a.value, a.name); }
[[nodiscard]] inline Result<std::vector<std::string>> to_text_list(Arg a) { return to_text_list(a.value, a.name); }
[[nodiscard]] inline Void check_str(Arg a) { return check_str(a.value, a.name); }

// Native values to Python.
[[nodiscard]] Result<Ref> py_str(std::string_view utf8);
[[nodiscard]] Result<Ref> py_int(uint64_t v);
[[nodiscard]] Result<Ref> py_int_signed(int64_t v);
[[nodiscard]] inline Ref py_bool(bool v) { return Ref::borrow(v ? Py_True : Py_False); }
// A new list of new str objects.
template <class Texts>
[[nodiscard]] Result<Ref> py_str_list(const Texts& texts);

// Attaches the argument note to a failed result.
template <class T>
Result<T> noted(Result<T> r, std::string_view name) {
  if (!r.ok() && !name.empty()) return std::move(r).error().with_argument_note(name);
  return r;
}

template <class Texts>
Result<Ref> py_str_list(const Texts& texts) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(std::size(texts))));
  if (!list) return Error::pending();
  Py_ssize_t i = 0;
  for (const auto& t : texts) {
    VX_TRY(Ref s, py_str(t));
    PyList_SET_ITEM(list.get(), i++, s.release());
  }
  return list;
}

}  // namespace vx
