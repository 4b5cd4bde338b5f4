#include "installer/appdata/backup.h"

#include <exception>
#include <utility>

#include "common/error.h"
#include "installer/appdata/backup_store.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
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

// Each hand-over variable and the backup's folder for it, in the order they are copied.
const std::pair<const char*, const char*> handed_over_folders[] = {
    {appdata_local_cache_variable, "LocalCache"},
    {appdata_local_variable, "Local"},
    {appdata_roaming_variable, "Roaming"},
};

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

std::string handover_problem() {
  for (const auto& [variable, name] : handed_over_folders) {
    const std::string source = read_env_variable(variable);
    if (source.empty()) {
      return std::string("the application's ") + name + " data folder was not handed over (" +
             variable + " is unset or empty)";
    }
    try {
      platform::services().files->ensure_folder_exists(source);
    } catch (const platform::PlatformError& error) {
      return std::string("the application's ") + name + " data folder " + source +
             " cannot be read: " + error.message();
    }
  }
  return {};
}

std::string backup_appdata_into(const std::string& folder, std::string* failure_reason) {
  const std::string separator = platform::path_separator();
  std::string reason;
  try {
    log_line("Backing up AppData into: " + folder + "\n");
    // Checked before anything is written: the removal that follows would take a folder that was
    // not handed over with it.
    if (const std::string problem = handover_problem(); !problem.empty())
      throw IOException(problem);
    platform::Files& files = *platform::services().files;
    if (!files.create_directory(folder)) {
      throw IOException("CreateDirectoryW failed with error: " + last_error_text());
    }
    for (const auto& [variable, name] : handed_over_folders) {
      copy_folder_from_variable(variable, folder + separator + name);
    }
    const std::string command_line_file =
        files.create_file_replace_existing(folder, "cmd_line.txt");
    files.write_text(command_line_file, read_env_variable(original_command_line_variable));
    mark_backup_complete(folder);
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
