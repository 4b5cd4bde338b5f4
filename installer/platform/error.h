#pragma once
// The platform error: a 32-bit HRESULT and a message, as the Windows Runtime projection raises it.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pellora::platform {

namespace hresult {
inline constexpr uint32_t cancelled = 0x800704C7;         // HRESULT_FROM_WIN32(ERROR_CANCELLED)
inline constexpr uint32_t access_denied = 0x80070005;     // E_ACCESSDENIED
inline constexpr uint32_t invalid_arg = 0x80070057;       // E_INVALIDARG
inline constexpr uint32_t file_not_found = 0x80070002;    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
inline constexpr uint32_t fail = 0x80004005;              // E_FAIL
inline constexpr uint32_t no_package = 0x80073D54;        // HRESULT_FROM_WIN32(APPMODEL_ERROR_NO_PACKAGE)
inline constexpr uint32_t install_downgrade = 0x80073D06;
inline constexpr uint32_t package_not_found = 0x80073CF1;
inline constexpr uint32_t busy_snapshot = 0x87AF0205;
inline constexpr uint32_t untrusted_root = 0x800B0109;
inline constexpr uint32_t insufficient_range_support = 0x80D05011;
inline constexpr uint32_t http_status_base = 0x80190000;  // + HTTP status
inline constexpr uint32_t cannot_connect = 0x80072EFD;
inline constexpr uint32_t name_not_resolved = 0x80072EE7;
inline constexpr uint32_t timeout = 0x80072EE2;
inline constexpr uint32_t connection_reset = 0x80072EFF;
}  // namespace hresult

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
