// Binding of call arguments to a method's parameters, by position and by
// keyword, with the interpreter-style messages for calls that do not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "binding/error.hpp"

namespace vx {

// A method's parameter list. Parameters are ordered: positional-only, then
// positional-or-keyword, then keyword-only (after `*`).
struct Signature {
  const char* function;             // "Token.__new__" or "version": messages add "()"
  const char* const* names;         // every parameter name, in order
  uint8_t count;                    // number of names
  uint8_t positional;               // parameters that may be given by position
  uint8_t required_positional;      // the first N positional parameters are required
  uint8_t positional_only = 0;      // the first N parameters are positional-only
  uint32_t required_keyword_only = 0;  // bit i: keyword-only parameter i is required
};

// Fills out[0..sig.count) with borrowed references (nullptr where not given).
// Vectorcall form: `args` holds nargs positional values followed by the values
// of the keywords named in `kwnames` (a tuple or nullptr).
[[nodiscard]] Void bind_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                             PyObject** out);
// tp_new/tp_init form: a positional tuple and a keyword dict (either may be nullptr).
[[nodiscard]] Void bind_args(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

}  // namespace vx
