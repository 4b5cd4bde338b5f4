#pragma once
#include <cstdint>

namespace pellora::platform::posix {

// The Win32 error code that best matches an errno value (ERROR_FILE_NOT_FOUND for ENOENT, ...).
uint32_t win32_error_from_errno(int error);

// Sets the last error from errno and returns it.
uint32_t set_last_error_from_errno(int error);

}  // namespace pellora::platform::posix
