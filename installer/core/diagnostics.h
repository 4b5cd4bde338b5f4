#pragma once
// Diagnostics go to the debugger output, one call per line; texts carry their own line ends.

#include <cstdint>
#include <string>
#include <string_view>

namespace pellora {

// OutputDebugStringW(text). Any thread.
void log_line(std::string_view text);
// The text followed by a line feed, in the user's ANSI code page (UTF-8 here). Any thread.
void log_utf8_line(std::string_view utf8_text);
// "[" + the calling thread's last Win32 error in decimal + "]: " + the system's message for it.
// Call it on the failing thread before any other platform call.
std::string last_error_text();

// Lower-case hexadecimal without prefix or leading zeros, as the program writes HRESULTs.
std::string hex(uint32_t value);

}  // namespace pellora
