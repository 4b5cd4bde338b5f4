#include "installer/appdata/restore.h"

#include <algorithm>
#include <vector>

#include "common/error.h"
#include "installer/appdata/backup.h"
#include "installer/appdata/backup_store.h"
#include "installer/core/diagnostics.h"
#include "installer/core/state.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

namespace {

using PackageFolder = std::string (platform::CurrentPackage::*)();
struct SavedFolder {
  const char* name;
  PackageFolder package_folder;
};
// In the order they are restored.
const SavedFolder saved_folders[] = {
    {"LocalCache", &platform::CurrentPackage::local_cache_folder},
    {"Local", &platform::CurrentPackage::local_folder},
    {"Roaming", &platform::CurrentPackage::roaming_folder},
};

void log_failure(const std::string& message) {
  log_line("Error restoring backup: " + message + ". Will continue without restoring.\n");
}

// Merges one saved folder into the package's; false (logged, the first failure kept in
// `outcome`) when it could not. A folder the backup does not hold counts as restored.
bool restore_folder(const std::string& backup_path, const SavedFolder& folder,
                    RestoreOutcome& outcome) {
  const std::string separator = platform::path_separator();
  platform::Services& services = platform::services();
  const std::string saved = backup_path + separator + folder.name;
  std::string destination = folder.name;
  std::string failure;
  try {
    try {
      services.files->ensure_folder_exists(saved);
    } catch (const platform::PlatformError&) {
      log_line("The backup holds no " + std::string(folder.name) +
               " folder, nothing to restore there.\n");
      return true;
    }
    destination = (services.current_package->*folder.package_folder)();
    // Wild-card sources merge into the package's folders: what only the package has stays.
    shell_copy(saved + separator + "*", destination);
    return true;
  } catch (const IOException& error) {
    failure = error.what();
  } catch (const platform::PlatformError& error) {
    failure = error.message();
  }
  log_failure(failure);
  if (outcome.complete()) {
    outcome.failed_folder = destination;
    outcome.failure = failure;
  }
  return false;
}

std::string restored_mark(const SavedFolder& folder) {
  return std::string(folder.name) + ".restored";
}

bool has_file(const std::string& folder, const std::string& name) {
  std::vector<std::string> names;
  return platform::services().files->list_folder(folder, names) &&
         std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

RestoreOutcome restore_folders(const std::string& backup_path) {
  RestoreOutcome outcome;
  // Each folder on its own: one that fails takes nothing of the others with it.
  for (const SavedFolder& folder : saved_folders) restore_folder(backup_path, folder, outcome);
  return outcome;
}

RestoreOutcome restore_appdata(const std::string& backup_path) {
  const RestoreOutcome outcome = restore_folders(backup_path);
  // The application starts with its saved command line, or with none: the restore's own
  // parameter, the backup's path, is not an argument of the application.
  try {
    forwarded_args = platform::services().files->read_text(
        backup_path + platform::path_separator() + "cmd_line.txt");
  } catch (const platform::PlatformError& error) {
    log_failure(error.message());
    forwarded_args.clear();
  }
  return outcome;
}

BackupsRestore restore_complete_backups(const std::string& family_folder) {
  BackupsRestore result;
  platform::Files& files = *platform::services().files;
  // A folder that failed in one backup waits in every newer one too: restored later, the older
  // copy would overwrite the newer. A folder once restored is marked and never restored again,
  // so that a retry does not overwrite what the application wrote since.
  std::vector<const SavedFolder*> failed;
  for (const std::string& backup : complete_backups(family_folder)) {
    log_line("Restoring backup from: " + backup + "\n");
    bool whole = true;
    for (const SavedFolder& folder : saved_folders) {
      if (has_file(backup, restored_mark(folder))) continue;
      if (std::find(failed.begin(), failed.end(), &folder) != failed.end()) {
        whole = false;
        continue;
      }
      const bool first_failure = result.outcome.complete();
      if (!restore_folder(backup, folder, result.outcome)) {
        failed.push_back(&folder);
        if (first_failure) result.failed_backup = backup;
        whole = false;
        continue;
      }
      try {
        files.create_file_replace_existing(backup, restored_mark(folder));
      } catch (const platform::PlatformError& error) {
        log_line("The backup " + backup + " cannot record its restored " + folder.name +
                 " folder: " + error.message() + "\n");
      }
    }
    if (!whole) continue;
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
