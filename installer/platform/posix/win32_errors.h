#pragma once
// The Win32 last error as the POSIX backend keeps it (per thread), and its texts.

#include <cstdint>
#include <string>

#include "standin/win32_errors.h"

namespace pellora::platform::posix {

void set_last_error(uint32_t code);
uint32_t get_last_error();
// The system's text for a Win32 code, as FormatMessageW gives it.
std::string format_message(uint32_t code);

using standin::win32_error_from_errno;

// Sets the last error from errno and returns it.
uint32_t set_last_error_from_errno(int error);

}  // namespace pellora::platform::posix
