#include "binding/strings.hpp"

#include "common/text.hpp"

namespace vx {

Result<std::vector<uint32_t>> string_codepoints(PyObject* str) {
  const Py_ssize_t n = PyUnicode_GET_LENGTH(str);
  const int kind = PyUnicode_KIND(str);
  const void* data = PyUnicode_DATA(str);
  std::vector<uint32_t> out(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) out[static_cast<size_t>(i)] = PyUnicode_READ(kind, data, i);
  return out;
}

std::string lossy_utf8(PyObject* str) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size)) return std::string(utf8, static_cast<size_t>(size));
  PyErr_Clear();  // lone surrogates: rebuild the text by hand
  const Py_ssize_t n = PyUnicode_GET_LENGTH(str);
  const int kind = PyUnicode_KIND(str);
  const void* data = PyUnicode_DATA(str);
  std::string out;
  out.reserve(static_cast<size_t>(n) + 8);
  for (Py_ssize_t i = 0; i < n; ++i) {
    char32_t cp = PyUnicode_READ(kind, data, i);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      out += "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";
    } else {
      append_utf8(out, cp);
    }
  }
  return out;
}

std::string display_text(PyObject* value, Ref rendered) {
  if (rendered) return lossy_utf8(rendered.get());
  PyErr_WriteUnraisable(value);
  Ref name = Ref::steal(PyType_GetName(Py_TYPE(value)));
  const char* n = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
  if (!n) {
    PyErr_Clear();
    return "<unprintable object>";
  }
  return std::string("<unprintable ") + n + " object>";
}

std::string display_repr(PyObject* value) { return display_text(value, Ref::steal(PyObject_Repr(value))); }

}  // namespace vx
