#include "common/panic.hpp"

namespace vx {

void panic(const std::string& message) { throw Panic(message); }

}  // namespace vx
