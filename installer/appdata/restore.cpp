#include "installer/appdata/restore.h"

#include "common/error.h"
#include "installer/appdata/backup.h"
#include "installer/appdata/backup_store.h"
#include "installer/core/diagnostics.h"
#include "installer/core/state.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

namespace {

void log_failure(const std::string& message) {
  log_line("Error restoring backup: " + message + ". Will continue without restoring.\n");
}

}  // namespace

RestoreOutcome restore_folders(const std::string& backup_path) {
  const std::string separator = platform::path_separator;
  platform::Services& services = platform::services();
  platform::CurrentPackage& package = *services.current_package;
  const std::pair<const char*, std::string (platform::CurrentPackage::*)()> folders[] = {
      {"LocalCache", &platform::CurrentPackage::local_cache_folder},
      {"Local", &platform::CurrentPackage::local_folder},
      {"Roaming", &platform::CurrentPackage::roaming_folder},
  };
  RestoreOutcome outcome;
  // Each folder on its own: one that fails takes nothing of the others with it.
  for (const auto& [name, package_folder] : folders) {
    const std::string saved = backup_path + separator + name;
    std::string destination = name;
    try {
      try {
        services.files->ensure_folder_exists(saved);
      } catch (const platform::PlatformError&) {
        log_line("The backup holds no " + std::string(name) +
                 " folder, nothing to restore there.\n");
        continue;
      }
      destination = (package.*package_folder)();
      // Wild-card sources merge into the package's folders: what only the package has stays.
      shell_copy(saved + separator + "*", destination);
      continue;
    } catch (const IOException& error) {
      log_failure(error.what());
      if (outcome.complete()) outcome.failure = error.what();
    } catch (const platform::PlatformError& error) {
      log_failure(error.message());
      if (outcome.complete()) outcome.failure = error.message();
    }
    if (outcome.failed_folder.empty()) outcome.failed_folder = destination;
  }
  return outcome;
}

RestoreOutcome restore_appdata(const std::string& backup_path) {
  const RestoreOutcome outcome = restore_folders(backup_path);
  // The application starts with its saved command line, or with none: the restore's own
  // parameter, the backup's path, is not an argument of the application.
  try {
    forwarded_args = platform::services().files->read_text(backup_path + platform::path_separator +
                                                           "cmd_line.txt");
  } catch (const platform::PlatformError& error) {
    log_failure(error.message());
    forwarded_args.clear();
  }
  return outcome;
}

BackupsRestore restore_complete_backups(const std::string& family_folder) {
  BackupsRestore result;
  for (const std::string& backup : complete_backups(family_folder)) {
    log_line("Restoring backup from: " + backup + "\n");
    result.outcome = restore_folders(backup);
    if (!result.outcome.complete()) {
      result.failed_backup = backup;
      return result;
    }
    ++result.restored;
    // Every folder is back: this copy is no longer the only one.
    remove_backup(backup);
  }
  return result;
}

std::string restore_failure_text(const std::string& backup_path, const RestoreOutcome& outcome) {
  return "The application's data could not all be put back: " + outcome.failed_folder +
         " could not be restored (" + outcome.failure + "). A copy of the data is kept in " +
         backup_path +
         "; it is put back the next time the application starts or is installed. Make sure "
         "the folder can be written to, then start the application again.";
}

}  // namespace pellora
