#pragma once
// Diagnostics go to the debugger output, one call per line; texts carry their own line ends.
// Once the log file is open they also go there, where a user without a debugger can find them.

#include <cstdint>
#include <string>
#include <string_view>

namespace pellora {

// OutputDebugStringW(text), and the log file. Any thread.
void log_line(std::string_view text);
// The text followed by a line feed, in the user's ANSI code page (UTF-8 here). Any thread.
void log_utf8_line(std::string_view utf8_text);
inline constexpr const char* log_file_name = "pellora.log";
inline constexpr uint64_t log_file_cap_bytes = uint64_t{1} << 20;

// From now on every diagnostic line is also appended to the file at `path`, each with the time
// and the process id. At log_file_cap_bytes the file becomes "<path>.1", replacing an older one,
// and a new file starts. A file that cannot be opened or written is given up silently: the log
// never stops the installer. An empty path closes the log file.
void open_log_file(const std::string& path);
// The log file's path; empty when none is open.
std::string log_file_path();

// "[" + the calling thread's last Win32 error in decimal + "]: " + the system's message for it.
// Call it on the failing thread before any other platform call.
std::string last_error_text();

// Lower-case hexadecimal without prefix or leading zeros, as the program writes HRESULTs.
std::string hex(uint32_t value);

}  // namespace pellora
