#include "installer/appdata/restore.h"

#include "installer/appdata/backup.h"
#include "installer/core/diagnostics.h"
#include "installer/core/state.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "installer/platform/services.h"

namespace pellora {

void restore_appdata(std::string backup_path) {
  const std::string separator = platform::path_separator;
  platform::Services& services = platform::services();
  try {
    // Wild-card sources merge into the package's folders: what only the package has stays.
    const std::string local_cache = services.current_package->local_cache_folder();
    shell_copy(backup_path + separator + "LocalCache" + separator + "*", local_cache);
    const std::string local = services.current_package->local_folder();
    shell_copy(backup_path + separator + "Local" + separator + "*", local);
    const std::string roaming = services.current_package->roaming_folder();
    shell_copy(backup_path + separator + "Roaming" + separator + "*", roaming);
    forwarded_args = services.files->read_text(backup_path + separator + "cmd_line.txt");
  } catch (const IOException& error) {
    log_line(std::string("Error restoring backup: ") + error.what() +
             ". Will continue without restoring.\n");
  } catch (const platform::PlatformError& error) {
    log_line("Error restoring backup: " + error.message() + ". Will continue without restoring.\n");
  }
}

}  // namespace pellora
