// The installer's start-up with one job: remove the package whose full name was burned in (as
// the reinstall chain does before it hands over), under the same handler as the main flow.
// Burn it like pellora; it exits with 0 when the package was removed.

#include <string>
#include <thread>

#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/deploy/uninstall.h"
#include "installer/platform/error.h"
#include "installer/platform/posix/terminal_view.h"
#include "installer/platform/services.h"
#include "installer/settings/burned_in_settings.h"

namespace {

void remove_package() {
  pellora::platform::System& system = *pellora::platform::services().system;
  try {
    const bool removed = pellora::uninstall();
    pellora::log_line(removed ? "Removed.\n" : "Not removed.\n");
    system.exit_process(removed ? 0 : 1);
  } catch (const pellora::platform::PlatformError& error) {
    if (error.is_cancellation()) system.exit_process(5);
    pellora::report_error("Exception whilst removing: [" + pellora::hex(error.code()) + "] " +
                          error.message() + "\n");
  }
}

}  // namespace

int main() {
  pellora::platform::posix::block_window_signals();
  pellora::platform::services() = pellora::platform::backend_services();
  pellora::create_progress_window();
  if (const std::string& problem = pellora::burned_in_settings_problem(); !problem.empty()) {
    pellora::report_error(problem);
  }
  pellora::set_flow_running(true);
  std::thread(remove_package).detach();
  pellora::platform::services().system->exit_process(pellora::run_message_loop());
}
