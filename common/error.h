#pragma once
// The platform error: a 32-bit HRESULT and a message, as the Windows Runtime projection raises it.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/hresult.h"

namespace pellora::platform {

class PlatformError : public std::runtime_error {
 public:
  PlatformError(uint32_t code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  uint32_t code() const { return code_; }
  std::string message() const { return what(); }
  bool is_cancellation() const { return code_ == hresult::cancelled; }

 private:
  uint32_t code_;
};

// The error a cancelled wait raises.
inline PlatformError cancelled_error() {
  return PlatformError(hresult::cancelled, "The operation was canceled by the user.");
}

}  // namespace pellora::platform
