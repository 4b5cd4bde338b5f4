#pragma once
// Process-wide state of the installer: the run mode and the arguments passed on. Written on the
// main thread before the flow starts; only restore_appdata replaces forwarded_args later, while
// the flow that reads it waits for it.

#include <atomic>
#include <string>

namespace pellora {

// The literal that starts the update-mode argument, in both directions.
inline constexpr const char* update_mode_literal = "TREVALON_INTERNAL_UPDATE_MODE=";

enum class RunMode {
  normal_start,      // '0', and '6' to '9'
  forced_update,     // '1'
  start_app,         // '2'
  reinstall,         // '3'
  restore_backup,    // '4'
  check_for_update,  // '5'
};

// The run mode a digit selects.
RunMode run_mode_of(char digit);
// The digit that selects a run mode ('0' for normal_start).
char run_mode_digit(RunMode mode);

extern char update_mode;            // the run mode digit, initially '0'
extern std::string forwarded_args;  // initially empty

// The update-mode argument for `digit` followed by `args`: args alone for '0', otherwise the
// literal, the digit, one space and args (even when args is empty).
std::string with_update_mode_argument(char digit, const std::string& args);
// The same for the digit of `mode`.
std::string with_update_mode_argument(RunMode mode, const std::string& args);

}  // namespace pellora
