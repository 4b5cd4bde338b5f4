// The run modes that move an installation from one package to another while keeping the
// application's data: reinstall (backup, removal, hand-over) and restore_backup.

#include <memory>
#include <string>

#include "installer/appdata/backup.h"
#include "installer/appdata/restore.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/deploy/new_installer.h"
#include "installer/deploy/uninstall.h"
#include "installer/flow/flow_steps.h"
#include "installer/flow/main_flow.h"
#include "installer/settings/metadata.h"

namespace pellora {
namespace {

std::string trim_blanks(const std::string& text) {
  const char* blanks = " \t\r\n\f";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

void reinstall() {
  log_line("Reinstalling the app.\n");
  std::string backup_failure;
  const std::string backup_path = backup_appdata(&backup_failure);
  if (backup_path.empty()) {
    // Removing the package deletes its data folders: without a backup the user's data would be
    // lost, so nothing is removed.
    report_error(
        "The application's data could not be backed up, so nothing was removed and "
        "the application was not reinstalled. The backup failed with: " +
        backup_failure);
  }
  std::unique_ptr<Metadata> metadata = fetch_metadata();
  // The new installer is on disk before the package goes: a site without one, or a network
  // that drops, must not leave the user without their application.
  const std::string installer = download_new_installer(metadata.get());
  metadata.reset();
  if (uninstall()) {
    start_new_installer(installer, backup_path);
    end_process(ExitCode::success);
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
  // The packaged copy then restores the backup.
  install_then_open_launch_uri(RunMode::restore_backup);
}

}  // namespace pellora
