#include "installer/deploy/new_installer.h"

#include "common/error.h"
#include "installer/core/diagnostics.h"
#include "installer/core/process_launch.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/core/uri.h"
#include "installer/download/download.h"

namespace pellora {

std::string new_installer_url(const Metadata* metadata, const BurnedInSettings& settings) {
  if (metadata != nullptr && !metadata->site_base_url.empty() &&
      !metadata->exe_installer_name.empty()) {
    return metadata->site_base_url + metadata->exe_installer_name;
  }
  return settings.site_base_url + settings.installer_file_name;
}

std::string download_new_installer(const Metadata* metadata) {
  log_line("Launching new installer \n");
  const Uri uri(new_installer_url(metadata, burned_in_settings));
  try {
    return download_uri_to_tmp(uri, "installer.exe", "Downloading new installer, please wait");
  } catch (const platform::PlatformError& error) {
    if (error.is_cancellation()) throw;
    report_error("Failed to download " + uri.to_string() + " due to error: " + error.message());
  }
}

void start_new_installer(const std::string& installer, const std::string& backup_path) {
  // Unquoted: the new instance takes the whole rest of its command line as the path.
  launch_process(installer, with_update_mode_argument(RunMode::restore_backup, backup_path), false);
}

}  // namespace pellora
