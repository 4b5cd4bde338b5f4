#include "installer/flow/main_flow.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/deploy/escape_hatch.h"
#include "installer/deploy/install.h"
#include "installer/flow/app_launch.h"
#include "installer/flow/entry.h"
#include "installer/flow/flow_steps.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"
#include "installer/settings/metadata.h"
#include "installer/settings/versions.h"

namespace pellora {
namespace {

// The updater when the site offers another version, the application otherwise.
void start_updater_or_app(const Metadata* metadata) {
  if (update_available(metadata)) {
    start_updater();
  } else {
    launch_app();
  }
}

void run_mode_flow() {
  switch (run_mode_of(update_mode)) {
    case RunMode::forced_update:
      log_line("Forcing update.\n");
      install_then_open_launch_uri(RunMode::start_app);
      return;
    case RunMode::start_app:
      log_line("Already checked for update, just start the app.\n");
      launch_app();
      end_process(ExitCode::success);
    case RunMode::reinstall:
      reinstall();
      return;
    case RunMode::restore_backup:
      restore_backup();
      return;
    case RunMode::check_for_update: {
      log_line("Just check for updates.\n");
      std::unique_ptr<Metadata> metadata = fetch_metadata(start_update_check_budget);
      start_updater_or_app(metadata.get());
      metadata.reset();
      end_process(ExitCode::success);
    }
    case RunMode::normal_start:
      if (!has_package_identity()) {
        log_line("Initial installation.\n");
        set_status("Installing, please wait");
        // The packaged entry then starts in the normal mode with the same arguments.
        install_then_open_launch_uri(RunMode::normal_start);
        return;
      }
      log_line("App launched.\n");
      after_launch_steps();
  }
}

}  // namespace

void after_launch_steps() {
  const BurnedInSettings& settings = burned_in_settings;
  if (!settings.aggressive_updates) {
    log_line("Not in aggressive mode, launching the app\n");
    launch_app();
    set_flow_running(true);  // the metadata and the escape hatch are still to come
  }
  // The application waits for this check: a stalled site must not hold its start for long.
  std::unique_ptr<Metadata> metadata = fetch_metadata(start_update_check_budget);
  const bool escape_hatch_ran =
      settings.escape_hatch_enabled ? run_escape_hatch(metadata.get()) : false;
  if (!escape_hatch_ran && settings.aggressive_updates) start_updater_or_app(metadata.get());
  metadata.reset();
  report_restore_failure();
  end_process(ExitCode::success);
}

void install_then_open_launch_uri(RunMode next_mode) {
  switch (do_install()) {
    case InstallOutcome::not_installed:
      return;
    case InstallOutcome::installed:
      open_launch_uri(next_mode, forwarded_args);
      break;
    case InstallOutcome::handed_to_elevated_copy:
      break;
  }
  end_process(ExitCode::success);
}

bool has_package_identity() {
  return platform::services().current_package->get_current_package_full_name_result() !=
         platform::win32::no_package;
}

void main_flow() {
  try {
    run_mode_flow();
  } catch (const platform::PlatformError& error) {
    if (error.is_cancellation()) end_cancelled();
    report_error("Exception whilst installing: [" + hex(error.code()) + "] " + error.message() +
                 "\n");
  } catch (const std::exception& error) {
    report_error(std::string("Exception whilst installing: ") + error.what() + "\n");
  }
  // Every path that succeeds ends the process itself; reaching this point means the work
  // failed (its failure was reported already, or there was nothing to report), so the process
  // must not look successful.
  log_line("The installation did not complete.\n");
  end_process(ExitCode::failed);
}

int installer_main(std::string command_line) {
  platform::services() = platform::backend_services();
  return run_installer(command_line, main_flow);
}

}  // namespace pellora
