#pragma once
// The installer's exit codes, as whoever started it reads them, and the one way the flow and
// the window end the process.

#include <cstdlib>

#include "installer/platform/services.h"

namespace pellora {

enum class ExitCode : int {
  // The work is done or handed on (to the application, an elevated copy, a new installer).
  success = 0,
  // The error box was shown, or the work did not complete.
  failed = 1,
  // The user cancelled: never a success to whoever started us.
  cancelled = 5,
};

// ExitProcess through the platform.
[[noreturn]] inline void end_process(ExitCode code) {
  platform::services().system->exit_process(static_cast<int>(code));
  std::abort();  // exit_process does not return
}

}  // namespace pellora
