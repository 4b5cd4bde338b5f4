#include "launcher/environment.h"

#include <cstdio>

#include "common/hresult.h"

namespace launcher {

using platform::KnownFolder;
using platform::KnownFolderMode;

void set_known_folder_variable(platform::Platform& platform, KnownFolder folder,
                               const std::string& name, bool redirected) {
  const auto found = platform.known_folder_path(
      folder, redirected ? KnownFolderMode::redirected : KnownFolderMode::user);
  if (found.hresult == 0) {
    platform.set_variable(name, found.path);
    return;
  }
  if (found.hresult == pellora::platform::hresult::file_not_found) {
    platform.debug_output("Could not find redirected " + name +
                          ". Virtualization might be off for that folder, ignoring.\n");
    return;
  }
  char text[100];
  std::snprintf(text, sizeof text, "Error 0x%x", static_cast<unsigned>(found.hresult));
  platform.message_box(text, "Error converting known folder path to environment variable");
}

void prepare_environment(const LauncherConfig& config, platform::Platform& platform) {
  set_known_folder_variable(platform, KnownFolder::local_app_data, "PACKAGE_LOCALAPPDATA", true);
  set_known_folder_variable(platform, KnownFolder::roaming_app_data, "PACKAGE_APPDATA", true);
  set_known_folder_variable(platform, KnownFolder::local_app_data, "USER_LOCALAPPDATA", false);
  set_known_folder_variable(platform, KnownFolder::roaming_app_data, "USER_APPDATA", false);
  if (config.override_appdata_vars) {
    set_known_folder_variable(platform, KnownFolder::local_app_data, "LOCALAPPDATA", true);
    set_known_folder_variable(platform, KnownFolder::roaming_app_data, "APPDATA", true);
  }
  // Without a profile there is nothing better to offer than the HOME the process has; and a
  // long profile path is taken whole, since a cut one names a folder that does not exist. An
  // empty profile removes HOME, as _putenv("HOME=") does on Windows.
  if (const auto profile = platform.get_variable("USERPROFILE")) {
    if (profile->empty()) {
      platform.remove_variable("HOME");
    } else {
      platform.set_variable("HOME", *profile);
    }
  }
}

}  // namespace launcher
