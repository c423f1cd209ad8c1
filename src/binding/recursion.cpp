#include "binding/recursion.hpp"

#include <string>

namespace vx {
namespace {

thread_local int t_depth = 0;

}  // namespace

Result<DepthGuard> DepthGuard::enter(const char* where) {
  if (t_depth >= kMaxDepth) {
    return Error::make(PyExc_RecursionError, std::string("maximum recursion depth exceeded") + where);
  }
  ++t_depth;
  return DepthGuard();
}

DepthGuard::~DepthGuard() {
  if (active_) --t_depth;
}

}  // namespace vx
