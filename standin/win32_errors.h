#pragma once
// The stand-in's Win32 errors: the code Windows gives for what POSIX reports as an errno, and
// the one table of the texts Windows has for them.

#include <cstdint>
#include <string>

namespace standin {

// The Win32 error code that best matches an errno value (ERROR_FILE_NOT_FOUND for ENOENT, ...).
// An errno without a Win32 counterpart comes back with the customer bit set, in the low word.
uint32_t win32_error_from_errno(int error);

// FormatMessageW's text for a Win32 code, ending in "\r\n"; for a code carrying an errno, that
// errno's text. Empty when there is none.
std::string win32_message(uint32_t code);

}  // namespace standin
