// Stands in for the native proxy reduction until the reduction views land.
#include "parser/py_parse_proxy.hpp"

namespace vx {

Result<PyParsedSymbol> native_proxy_reduce(const ProxyContext&, PyObject*, PyParsedSymbol, std::span<PyParsedSymbol>,
                                           PyObject*) {
  return Error::make(PyExc_NotImplementedError, "the native proxy reduction is not built yet");
}

}  // namespace vx
