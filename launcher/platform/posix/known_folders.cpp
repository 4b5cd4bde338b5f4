#include "launcher/platform/posix/known_folders.h"

#include "common/hresult.h"
#include "standin/platform_root.h"

namespace launcher::platform::posix {
namespace {

std::optional<std::string> non_empty(const EnvironmentLookup& environment,
                                     const std::string& name) {
  auto value = environment(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

}  // namespace

KnownFolderPath stand_in_known_folder_path(KnownFolder folder, KnownFolderMode mode,
                                           const std::optional<standin::Registration>& package,
                                           const EnvironmentLookup& environment) {
  const bool local = folder == KnownFolder::local_app_data;
  if (mode == KnownFolderMode::redirected) {
    if (!package) return {pellora::platform::hresult::file_not_found, {}};
    return {0, standin::family_data_folder(package->family_name) + "/LocalCache/" +
                   (local ? "Local" : "Roaming")};
  }
  if (auto xdg = non_empty(environment, local ? "XDG_DATA_HOME" : "XDG_CONFIG_HOME")) {
    return {0, *xdg};
  }
  const std::string home = standin::home_folder();
  if (home.empty()) return {pellora::platform::hresult::file_not_found, {}};
  return {0, home + (local ? "/.local/share" : "/.config")};
}

}  // namespace launcher::platform::posix
