// Text of Python objects: code points, lossy UTF-8, printable values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/error.hpp"

namespace vx {

// The code points of a `str`, in order; a lone surrogate is its own value.
[[nodiscard]] Result<std::vector<uint32_t>> string_codepoints(PyObject* str);

// UTF-8 of a `str` in which each lone surrogate becomes three U+FFFD
// characters, one per byte of its three-byte form.
[[nodiscard]] std::string lossy_utf8(PyObject* str);

// The text of `value` rendered as `rendered` (what str() or repr() of it
// returned), lossily converted. When the rendering failed (`rendered` empty,
// its exception pending), the exception is reported as unraisable with the
// value as context and the text is "<unprintable {type name} object>" (or
// "<unprintable object>").
[[nodiscard]] std::string display_text(PyObject* value, Ref rendered);
// display_text of repr(value).
[[nodiscard]] std::string display_repr(PyObject* value);

}  // namespace vx
