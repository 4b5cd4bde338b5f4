#pragma once
// The stand-in's ShellExecute: programs are started detached with their parameters split by the
// Windows command-line rules (no shell ever sees them); URIs go to the package that registered
// their scheme; "runas" marks the started process as elevated, unless
// TREVALON_PLATFORM_ELEVATION=refuse plays a user who refuses the prompt.

#include <cstdint>
#include <functional>
#include <string>

namespace standin {

struct ShellResult {
  intptr_t result;       // ShellExecuteW's: greater than 32 is success
  uint32_t win32_error;  // the last error it leaves behind
};

// Verbs "open" (or none) and "runas". `before_start` runs just before the program starts.
ShellResult shell_execute(const std::string& verb, const std::string& file,
                          const std::string& parameters,
                          const std::function<void()>& before_start = {});

}  // namespace standin
