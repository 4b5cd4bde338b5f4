#include "installer/core/temp_directory.h"

#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

std::string temp_directory() {
  platform::Services& services = platform::services();
  const std::string temp_path = services.system->temp_path();
  if (temp_path.empty()) report_error("GetTempPathW failed with error: " + last_error_text());

  const std::string folder = temp_path + burned_in_settings.package_full_name;
  // An existing folder is the normal case from the second call on, and concurrent callers
  // race for the creation; both are fine.
  if (!services.files->create_directory(folder) &&
      platform::get_last_error() != platform::win32::already_exists) {
    report_error("CreateDirectoryW failed with error: " + last_error_text());
  }
  return folder + platform::path_separator;
}

}  // namespace pellora
