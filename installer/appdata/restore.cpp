#include "installer/appdata/restore.h"

#include "common/error.h"
#include "installer/appdata/backup.h"
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

void restore_appdata(std::string backup_path) {
  const std::string separator = platform::path_separator();
  platform::Services& services = platform::services();
  platform::CurrentPackage& package = *services.current_package;
  const std::pair<const char*, std::string (platform::CurrentPackage::*)()> folders[] = {
      {"LocalCache", &platform::CurrentPackage::local_cache_folder},
      {"Local", &platform::CurrentPackage::local_folder},
      {"Roaming", &platform::CurrentPackage::roaming_folder},
  };
  // Each folder on its own: one that fails, or that the backup left out because its variable
  // was empty, takes nothing of the others with it.
  for (const auto& [name, package_folder] : folders) {
    const std::string saved = backup_path + separator + name;
    try {
      try {
        services.files->ensure_folder_exists(saved);
      } catch (const platform::PlatformError&) {
        log_line("The backup holds no " + std::string(name) +
                 " folder, nothing to restore there.\n");
        continue;
      }
      // Wild-card sources merge into the package's folders: what only the package has stays.
      shell_copy(saved + separator + "*", (package.*package_folder)());
    } catch (const IOException& error) {
      log_failure(error.what());
    } catch (const platform::PlatformError& error) {
      log_failure(error.message());
    }
  }
  // The application starts with its saved command line, or with none: the restore's own
  // parameter, the backup's path, is not an argument of the application.
  try {
    forwarded_args = services.files->read_text(backup_path + separator + "cmd_line.txt");
  } catch (const platform::PlatformError& error) {
    log_failure(error.message());
    forwarded_args.clear();
  }
}

}  // namespace pellora
