#pragma once
// The calling thread's last Win32 error, as GetLastError/SetLastError keep it. Backend calls
// that emulate Win32 functions set it when they fail.

#include <cstdint>
#include <string>

namespace pellora::platform {

namespace win32 {
inline constexpr uint32_t success = 0;
inline constexpr uint32_t file_not_found = 2;
inline constexpr uint32_t path_not_found = 3;
inline constexpr uint32_t access_denied = 5;
inline constexpr uint32_t not_enough_memory = 8;
inline constexpr uint32_t bad_format = 11;
inline constexpr uint32_t disk_full = 112;
inline constexpr uint32_t invalid_name = 123;
inline constexpr uint32_t already_exists = 183;
inline constexpr uint32_t filename_too_long = 206;
inline constexpr uint32_t no_association = 1155;
inline constexpr uint32_t cancelled = 1223;
inline constexpr uint32_t no_package = 15700;  // APPMODEL_ERROR_NO_PACKAGE
}  // namespace win32

void set_last_error(uint32_t code);
uint32_t get_last_error();

// The system's message text for a Win32 error code, as FormatMessageW gives it (it usually ends
// with "\r\n"); empty when the system has none.
std::string format_message(uint32_t code);

}  // namespace pellora::platform
