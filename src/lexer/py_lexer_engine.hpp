// The Python class LexerEngine.
#pragma once

#include "binding/error.hpp"

namespace vx {

[[nodiscard]] Result<PyTypeObject*> lexer_engine_type();

}  // namespace vx
