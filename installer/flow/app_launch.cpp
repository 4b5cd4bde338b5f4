#include "installer/flow/app_launch.h"

#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/process_launch.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/flow/flow_steps.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

namespace {
constexpr uint32_t pause_after_launch_ms = 500;
}  // namespace

void launch_app() {
  // The application never runs without the data a reinstall left waiting for it.
  restore_pending_backups();
  hide_progress_window();
  const std::string location = package_location();
  log_line("Package location: " + location + "\n");
  const std::string executable =
      location + platform::path_separator() + burned_in_settings.app_exe_name;
  log_line("Executable path: " + executable + "\n");
  // The application never sees our update-mode argument, only what followed it.
  launch_process(executable, forwarded_args, false);
  report_restore_failure();
}

void open_launch_uri(RunMode mode, std::string args) {
  const std::string parameters = with_update_mode_argument(mode, args);
  const std::string& uri = burned_in_settings.launch_uri;
  const intptr_t result =
      platform::services().shell->shell_execute("open", uri, parameters, platform::sw_shownormal);
  if (result <= 32) {
    // last_error_text ends with the system's line break, which separates the two parts.
    report_error("ShellExecute failed with error: " + last_error_text() + "Launch URI is " + uri);
  }
  set_flow_running(false);  // the run's work is done: see launch_process
  platform::services().system->sleep_ms(pause_after_launch_ms);
}

void start_updater() {
  // The packaged copy cannot replace its own package, so a temporary copy does the update.
  launch_temp_copy(packaged_update_checker_name, temporary_updater_name,
                   with_update_mode_argument(RunMode::forced_update, forwarded_args));
}

}  // namespace pellora
