// Broken invariants. vx::internal_failure() abandons the current operation; the binding
// layer's boundary reports the message on standard error and raises
// PanicException to Python. Pure cores use it for the few failures that are
// not part of any method's contract.
#pragma once

#include <stdexcept>
#include <string>

namespace vx {

class InternalFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void internal_failure(const std::string& message);

}  // namespace vx
