#include "installer/core/main_flow.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "installer/appdata/backup.h"
#include "installer/appdata/restore.h"
#include "installer/core/app_launch.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/deploy/escape_hatch.h"
#include "installer/deploy/install.h"
#include "installer/deploy/new_installer.h"
#include "installer/deploy/uninstall.h"
#include "installer/platform/error.h"
#include "installer/platform/last_error.h"
#include "installer/platform/services.h"
#include "installer/settings/burned_in_settings.h"
#include "installer/settings/metadata.h"
#include "installer/settings/versions.h"

namespace pellora {
namespace {

[[noreturn]] void exit_process(int code) {
  platform::services().system->exit_process(code);
  std::abort();  // exit_process does not return
}

// The updater when the site offers another version, the application otherwise.
void start_updater_or_app(const Metadata* metadata) {
  if (update_available(metadata)) {
    start_updater();
  } else {
    launch_app();
  }
}

// The packaged start: the application, the metadata, the escape hatch and the update decision.
[[noreturn]] void after_launch_steps() {
  const BurnedInSettings& settings = burned_in_settings;
  if (!settings.aggressive_updates) {
    log_line("Not in aggressive mode, launching the app\n");
    launch_app();
  }
  std::unique_ptr<Metadata> metadata = fetch_metadata();
  const bool escape_hatch_ran =
      settings.escape_hatch_enabled ? run_escape_hatch(metadata.get()) : false;
  if (!escape_hatch_ran && settings.aggressive_updates) start_updater_or_app(metadata.get());
  metadata.reset();
  exit_process(0);
}

// Installs, then opens the launch URI in `next_mode`. Returns only when the install yielded
// false.
void install_then_open_launch_uri(char next_mode) {
  if (!do_install()) return;
  open_launch_uri(next_mode, forwarded_args);
  exit_process(0);
}

std::string trim_blanks(const std::string& text) {
  const char* blanks = " \t\r\n\f";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

void reinstall() {
  log_line("Reinstalling the app.\n");
  std::string backup_failure;
  std::string backup_path = backup_appdata(&backup_failure);
  if (backup_path.empty()) {
    // Removing the package deletes its data folders: without a backup the user's data would be
    // lost, so nothing is removed.
    report_error(
        "The application's data could not be backed up, so nothing was removed and "
        "the application was not reinstalled. The backup failed with: " +
        backup_failure);
  }
  std::unique_ptr<Metadata> metadata = fetch_metadata();
  if (uninstall()) {
    launch_new_installer(backup_path, metadata.get());
    exit_process(0);
  }
}

void restore_backup() {
  log_line("Restoring backup.\n");
  if (has_package_identity()) {
    const std::string backup_path = trim_blanks(forwarded_args);
    if (!backup_path.empty()) {
      log_line("Restoring backup from: " + backup_path + "\n");
      restore_appdata(backup_path);
    }
    after_launch_steps();
  }
  set_status("Installing, please wait");
  install_then_open_launch_uri('4');
}

void run_mode_flow() {
  switch (run_mode_of(update_mode)) {
    case RunMode::forced_update:
      log_line("Forcing update.\n");
      install_then_open_launch_uri('2');
      return;
    case RunMode::start_app:
      log_line("Already checked for update, just start the app.\n");
      launch_app();
      exit_process(0);
    case RunMode::reinstall:
      reinstall();
      return;
    case RunMode::restore_backup:
      restore_backup();
      return;
    case RunMode::check_for_update: {
      log_line("Just check for updates.\n");
      std::unique_ptr<Metadata> metadata = fetch_metadata();
      start_updater_or_app(metadata.get());
      metadata.reset();
      exit_process(0);
    }
    case RunMode::normal_start:
      if (!has_package_identity()) {
        log_line("Initial installation.\n");
        set_status("Installing, please wait");
        install_then_open_launch_uri('0');
        return;
      }
      log_line("App launched.\n");
      after_launch_steps();
  }
}

}  // namespace

bool has_package_identity() {
  return platform::services().current_package->get_current_package_full_name_result() !=
         platform::win32::no_package;
}

void main_flow() {
  try {
    run_mode_flow();
  } catch (const platform::PlatformError& error) {
    if (error.is_cancellation()) {
      log_line("User cancelled the install, exiting.\n");
      exit_process(5);
    }
    report_error("Exception whilst installing: [" + hex(error.code()) + "] " + error.message() +
                 "\n");
  } catch (const std::exception& error) {
    report_error(std::string("Exception whilst installing: ") + error.what() + "\n");
  }
  // Every path that succeeds ends the process itself; reaching this point means the work
  // failed (its failure was reported already, or there was nothing to report), so the process
  // must not look successful.
  log_line("The installation did not complete.\n");
  exit_process(1);
}

}  // namespace pellora
