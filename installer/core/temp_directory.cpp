#include "installer/core/temp_directory.h"

#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

std::string usable_temp_directory() {
  platform::Services& services = platform::services();
  const std::string temp_path = services.system->temp_path();
  if (temp_path.empty()) return {};
  const std::string folder = temp_path + burned_in_settings.package_full_name;
  std::string refusal;
  if (!services.files->create_private_directory(folder, refusal)) return {};
  return folder + platform::path_separator();
}

std::string temp_directory() {
  platform::Services& services = platform::services();
  const std::string temp_path = services.system->temp_path();
  if (temp_path.empty()) report_error("GetTempPathW failed with error: " + last_error_text());

  const std::string folder = temp_path + burned_in_settings.package_full_name;
  // An existing folder is the normal case from the second call on, and concurrent callers
  // race for the creation; both are fine. It holds programs that are started and the user's
  // data backup, so one that someone else could change is not used.
  std::string refusal;
  if (!services.files->create_private_directory(folder, refusal)) {
    if (!refusal.empty()) {
      report_error("The program's temporary folder " + folder + " cannot be used, because " +
                   refusal + ". Remove it or let only your own account use it, then try again.");
    }
    report_error("CreateDirectoryW failed with error: " + last_error_text());
  }
  return folder + platform::path_separator();
}

}  // namespace pellora
