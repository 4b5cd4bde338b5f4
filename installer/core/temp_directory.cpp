#include "installer/core/temp_directory.h"

#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

const char* refusal_reason(platform::FolderRefusal refusal) {
  switch (refusal) {
    case platform::FolderRefusal::symbolic_link:
      return "it is a symbolic link";
    case platform::FolderRefusal::not_a_folder:
      return "it is not a folder";
    case platform::FolderRefusal::other_owner:
      return "it belongs to another user";
    case platform::FolderRefusal::writable_by_others:
      return "other users can write to it";
    case platform::FolderRefusal::none:
      break;
  }
  return "";
}

}  // namespace

std::string usable_temp_directory() {
  platform::Services& services = platform::services();
  const std::string temp_path = services.system->temp_path();
  if (temp_path.empty()) return {};
  const std::string folder = temp_path + burned_in_settings.package_full_name;
  platform::FolderRefusal refusal = platform::FolderRefusal::none;
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
  platform::FolderRefusal refusal = platform::FolderRefusal::none;
  if (!services.files->create_private_directory(folder, refusal)) {
    if (refusal != platform::FolderRefusal::none) {
      report_error("The program's temporary folder " + folder + " cannot be used, because " +
                   refusal_reason(refusal) +
                   ". Remove it or let only your own account use it, then try again.");
    }
    report_error("CreateDirectoryW failed with error: " + last_error_text());
  }
  return folder + platform::path_separator();
}

}  // namespace pellora
