#pragma once
// The launcher's one way to give up: a message on standard error and exit code 1.

namespace launcher {

// Writes the printf-formatted message to standard error, then "\r" and "\n" as two further
// writes, and ends the process with exit code 1. Any thread may call it.
#if defined(__GNUC__)
[[noreturn]] void fatal_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
[[noreturn]] void fatal_error(const char* format, ...);
#endif

}  // namespace launcher
