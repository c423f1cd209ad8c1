// The one place that includes the interpreter's headers. Version gates for
// the C API live here too; the module targets CPython 3.13 and 3.14.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030D0000
#error "vexlor._core_rs needs CPython 3.13 or newer"
#endif
