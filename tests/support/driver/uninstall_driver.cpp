// The installer's start-up with one job: remove the package whose full name was burned in (as
// the reinstall chain does before it hands over), under the same handler as the main flow.
// Built on the backend's real main like pellora and burned like it; it exits with 0 when the
// package was removed.

#include <string>

#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/deploy/uninstall.h"
#include "installer/flow/entry.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

void remove_package() {
  platform::System& system = *platform::services().system;
  try {
    const bool removed = uninstall();
    log_line(removed ? "Removed.\n" : "Not removed.\n");
    system.exit_process(removed ? 0 : 1);
  } catch (const platform::PlatformError& error) {
    if (error.is_cancellation()) system.exit_process(5);
    report_error("Exception whilst removing: [" + hex(error.code()) + "] " + error.message() +
                 "\n");
  }
}

}  // namespace

int installer_main(std::string command_line) {
  platform::services() = platform::backend_services();
  return run_installer(command_line, remove_package);
}

}  // namespace pellora
