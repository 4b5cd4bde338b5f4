// The run modes that move an installation from one package to another while keeping the
// application's data: reinstall (backup, removal, hand-over) and restore_backup, and the restore
// of a backup left waiting that every packaged start makes before the application runs.

#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/appdata/backup.h"
#include "installer/appdata/backup_store.h"
#include "installer/appdata/restore.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/deploy/install.h"
#include "installer/deploy/new_installer.h"
#include "installer/deploy/uninstall.h"
#include "installer/flow/app_launch.h"
#include "installer/flow/flow_steps.h"
#include "installer/flow/main_flow.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"
#include "installer/settings/metadata.h"

namespace pellora {
namespace {

// How long a reinstall waits for another one of the same family to finish; the site's installer
// and the packaged copy wait longer for the lock handed on to them, which their predecessor
// gives up only when it ends.
constexpr uint32_t reinstall_patience_ms = 5000;
constexpr uint32_t heir_patience_ms = 30000;

const char* const another_reinstall =
    "Another reinstall of the application is under way. Nothing was changed; try again once it "
    "has finished.";

// Set when a restore left something behind: shown once the application has been started.
std::string pending_restore_failure;
bool pending_backups_checked = false;

const std::string no_backup =
    "The application's data could not be backed up, so nothing was removed and the application "
    "was not reinstalled. The backup failed with: ";

std::string trim_blanks(const std::string& text) {
  const char* blanks = " \t\r\n\f";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string kept_in(const std::string& backup) {
  return "A copy of the application's data is kept in " + backup +
         "; it is put back the next time the application is installed or started.";
}

std::unique_ptr<ReinstallLock> take_lock_or_report(const std::string& family_folder,
                                                   const std::string& heir_of, uint32_t patience_ms,
                                                   const char* busy_text) {
  bool busy = false;
  std::unique_ptr<ReinstallLock> lock =
      ReinstallLock::take(family_folder, heir_of, patience_ms, busy);
  if (lock == nullptr) {
    if (busy) report_error(busy_text);
    report_error("CreateFileW failed with error: " + last_error_text() + "The lock file is " +
                 family_folder + reinstall_lock_name);
  }
  return lock;
}

// Restores what `family_folder` holds; a failure is kept to be shown after the start.
void restore_held_backups(const std::string& family_folder) {
  const BackupsRestore restore = restore_complete_backups(family_folder);
  if (!restore.failed_backup.empty()) {
    pending_restore_failure = restore_failure_text(restore.failed_backup, restore.outcome);
    log_line(pending_restore_failure + "\n");
  }
}

}  // namespace

void restore_pending_backups() {
  if (pending_backups_checked) return;
  pending_backups_checked = true;
  const std::string family_folder = usable_family_backup_folder();
  if (family_folder.empty() || complete_backups(family_folder).empty()) return;
  bool busy = false;
  const std::unique_ptr<ReinstallLock> lock = ReinstallLock::take(family_folder, "", 0, busy);
  if (lock == nullptr) {
    // A reinstall under way restores them itself when it ends.
    log_line("The data backups in " + family_folder +
             " are in use by a reinstall; they are left to it.\n");
    return;
  }
  restore_held_backups(family_folder);
}

void reset_restore_state_for_tests() {
  pending_restore_failure.clear();
  pending_backups_checked = false;
}

void report_restore_failure() {
  if (!pending_restore_failure.empty()) report_error(pending_restore_failure);
}

void reinstall() {
  log_line("Reinstalling the app.\n");
  const std::string family_folder = family_backup_folder();
  const std::unique_ptr<ReinstallLock> lock =
      take_lock_or_report(family_folder, "", reinstall_patience_ms, another_reinstall);
  // Under the lock no backup is being written: one never marked complete was cut short, and the
  // package was not removed after it.
  remove_incomplete_backups(family_folder);
  const std::vector<std::string> waiting = complete_backups(family_folder);
  if (!waiting.empty()) set_error_postscript(kept_in(waiting.back()));

  // What makes the backup impossible is found before anything is downloaded or written.
  if (const std::string problem = handover_problem(); !problem.empty()) {
    report_error(no_backup + problem + ".");
  }
  std::unique_ptr<Metadata> metadata = fetch_metadata();
  // The new installer is on disk before the data are copied and the package goes: a site
  // without one, or a network that drops, must not leave the user without their application.
  const std::string installer = download_new_installer(metadata.get());
  metadata.reset();

  std::string backup_failure;
  const std::string backup_path =
      backup_appdata_into(next_backup_path(family_folder), &backup_failure);
  if (backup_path.empty()) {
    remove_incomplete_backups(family_folder);
    // Removing the package deletes its data folders: without a backup the user's data would be
    // lost, so nothing is removed.
    report_error(no_backup + backup_failure + ".");
  }
  // From here on, whatever fails, the user learns where their data are.
  set_error_postscript(kept_in(backup_path));
  log_line(kept_in(backup_path) + "\n");
  if (uninstall()) {
    start_new_installer(installer, backup_path);
    // Only once the installer runs: a start that failed leaves the lock free for a retry. The
    // installer waits for it until this process has ended.
    lock->hand_over(backup_path.substr(family_folder.size()));
    end_process(ExitCode::success);
  }
}

void restore_backup() {
  log_line("Restoring backup.\n");
  const std::string backup_path = trim_blanks(forwarded_args);
  const std::string family_folder =
      backup_path.empty() ? std::string() : usable_family_backup_folder();
  const std::string backup_name =
      family_folder.empty() ? std::string() : backup_name_in(family_folder, backup_path);
  if (has_package_identity()) {
    if (!backup_name.empty()) {
      pending_backups_checked = true;
      bool busy = false;
      const std::unique_ptr<ReinstallLock> lock =
          ReinstallLock::take(family_folder, backup_name, heir_patience_ms, busy);
      // The application starts with the command line it had before the reinstall.
      forwarded_args.clear();
      try {
        forwarded_args = platform::services().files->read_text(
            backup_path + platform::path_separator() + "cmd_line.txt");
      } catch (const platform::PlatformError& error) {
        log_line("Error restoring backup: " + error.message() +
                 ". Will continue without restoring.\n");
      }
      if (lock != nullptr) {
        restore_held_backups(family_folder);
      } else {
        pending_restore_failure =
            "The application's data could not be put back now, because another reinstall of the "
            "application is under way. " +
            kept_in(backup_path);
      }
    } else if (!backup_path.empty()) {
      // A backup of an earlier version's, or one the user keeps elsewhere: restored, and left
      // where it is.
      log_line("Restoring backup from: " + backup_path + "\n");
      const RestoreOutcome outcome = restore_appdata(backup_path);
      if (!outcome.complete()) pending_restore_failure = restore_failure_text(backup_path, outcome);
    }
    after_launch_steps();
  }
  std::unique_ptr<ReinstallLock> lock;
  if (!backup_name.empty()) {
    set_error_postscript(kept_in(backup_path));
    lock = take_lock_or_report(family_folder, backup_name, heir_patience_ms,
                               "Another reinstall of the application is under way, so the "
                               "application was not installed.");
  }
  set_status("Installing, please wait");
  switch (do_install()) {
    case InstallOutcome::not_installed:
      return;
    case InstallOutcome::installed:
      // The packaged copy then restores the backup.
      open_launch_uri(RunMode::restore_backup, forwarded_args);
      break;
    case InstallOutcome::handed_to_elevated_copy:
      // It repeats this run mode, as the backup's heir.
      break;
  }
  if (lock != nullptr) lock->hand_over(backup_name);
  end_process(ExitCode::success);
}

}  // namespace pellora
