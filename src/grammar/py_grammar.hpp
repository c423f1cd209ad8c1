// The Python class Grammar.
#pragma once

#include "binding/error.hpp"

namespace vx {

[[nodiscard]] Result<PyTypeObject*> grammar_type();

}  // namespace vx
