#include "installer/appdata/backup.h"

#include <exception>

#include "common/error.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

std::string shell_failure_text(const platform::ShellFileOperationResult& result) {
  return ") failed with error code: 0x" + hex(static_cast<uint32_t>(result.result)) +
         "(fAnyOperationsAborted = " + (result.any_aborted ? "1" : "0") + ")";
}

bool succeeded(const platform::ShellFileOperationResult& result) {
  return result.result == 0 && !result.any_aborted;
}

// A fresh, empty backup folder: an earlier run's folder goes first, whole.
void create_empty_folder(const std::string& folder) {
  platform::Files& files = *platform::services().files;
  if (files.create_directory(folder)) return;
  if (platform::get_last_error() != platform::win32::already_exists) {
    throw IOException("CreateDirectoryW failed with error: " + last_error_text());
  }
  const platform::ShellFileOperationResult removal = files.shell_delete(folder);
  if (!succeeded(removal)) {
    throw IOException("SHFileOperationW(rmdir " + folder + shell_failure_text(removal));
  }
  if (!files.create_directory(folder)) {
    throw IOException("CreateDirectoryW failed with error: " + last_error_text());
  }
}

}  // namespace

void export_appdata_locations() {
  platform::Services& services = platform::services();
  services.system->set_env(appdata_local_variable, services.current_package->local_folder());
  services.system->set_env(appdata_roaming_variable, services.current_package->roaming_folder());
  services.system->set_env(appdata_local_cache_variable,
                           services.current_package->local_cache_folder());
  services.system->set_env(original_command_line_variable, forwarded_args);
}

std::string read_env_variable(const std::string& name) {
  try {
    return platform::services().system->get_env(name).value_or("");
  } catch (const std::exception&) {
    report_error("Failed to get environment variable " + name);
  }
}

void copy_folder_from_variable(const std::string& name, const std::string& destination) {
  const std::string source = read_env_variable(name);
  if (source.empty()) return;
  shell_copy(source, destination);
}

void shell_copy(const std::string& source, const std::string& destination) {
  const platform::ShellFileOperationResult result =
      platform::services().files->shell_copy(source, destination);
  if (succeeded(result)) return;
  throw IOException("SHFileOperationW(cp " + source + ", " + destination +
                    shell_failure_text(result));
}

std::string backup_appdata(std::string* failure_reason) {
  return backup_appdata_under(temp_directory(), failure_reason);
}

std::string backup_appdata_under(const std::string& temp_folder, std::string* failure_reason) {
  const std::string separator = platform::path_separator();
  std::string reason;
  try {
    const std::string folder = temp_folder + "appdata.backup";
    log_line("Backing up AppData into: " + folder + "\n");
    // A backup of nothing is no backup: the removal that follows would take the data with it.
    // Checked before anything is touched, so an earlier backup stays as it is.
    if (read_env_variable(appdata_local_variable).empty() &&
        read_env_variable(appdata_roaming_variable).empty() &&
        read_env_variable(appdata_local_cache_variable).empty()) {
      throw IOException(std::string("no data folder was handed over (") + appdata_local_variable +
                        ", " + appdata_roaming_variable + " and " + appdata_local_cache_variable +
                        " are unset or empty)");
    }
    create_empty_folder(folder);
    copy_folder_from_variable(appdata_local_cache_variable, folder + separator + "LocalCache");
    copy_folder_from_variable(appdata_local_variable, folder + separator + "Local");
    copy_folder_from_variable(appdata_roaming_variable, folder + separator + "Roaming");
    platform::Files& files = *platform::services().files;
    files.ensure_folder_exists(folder);
    const std::string command_line_file =
        files.create_file_replace_existing(folder, "cmd_line.txt");
    files.write_text(command_line_file, read_env_variable(original_command_line_variable));
    return folder;
  } catch (const IOException& error) {
    reason = error.what();
  } catch (const platform::PlatformError& error) {
    reason = error.message();
  }
  log_line("Error backing up app data: " + reason + ". Will continue without backup.\n");
  if (failure_reason != nullptr) *failure_reason = reason;
  return {};
}

}  // namespace pellora
