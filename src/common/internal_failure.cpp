#include "common/internal_failure.hpp"

namespace vx {

void internal_failure(const std::string& message) { throw InternalFailure(message); }

}  // namespace vx
