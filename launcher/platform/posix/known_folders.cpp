#include "launcher/platform/posix/known_folders.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace launcher::platform::posix {
namespace {

std::optional<std::string> real_path(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

std::optional<std::string> non_empty(const EnvironmentLookup& environment,
                                     const std::string& name) {
  auto value = environment(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::optional<std::string> platform_root(const EnvironmentLookup& environment) {
  if (auto root = non_empty(environment, "TREVALON_PLATFORM_ROOT")) return root;
  if (auto state = non_empty(environment, "XDG_STATE_HOME")) return *state + "/trevalon-platform";
  if (auto home = non_empty(environment, "HOME")) return *home + "/.local/state/trevalon-platform";
  return std::nullopt;
}

// Family name = the first and the last "_" field of the full name.
std::optional<std::string> family_name_of(const std::string& full_name) {
  const size_t first = full_name.find('_');
  const size_t last = full_name.rfind('_');
  if (first == std::string::npos || first == 0 || last + 1 == full_name.size()) {
    return std::nullopt;
  }
  return full_name.substr(0, first) + full_name.substr(last);
}

// The data folder of the process's package family, when its executable lies inside an
// installed package.
std::optional<std::string> package_data_folder(const std::string& executable_real_path,
                                               const EnvironmentLookup& environment) {
  const auto configured_root = platform_root(environment);
  if (!configured_root) return std::nullopt;
  const auto root = real_path(*configured_root);
  if (!root) return std::nullopt;
  const std::string packages = *root + "/packages/";
  if (executable_real_path.compare(0, packages.size(), packages) != 0) return std::nullopt;
  const size_t end_of_name = executable_real_path.find('/', packages.size());
  if (end_of_name == std::string::npos || end_of_name == packages.size()) return std::nullopt;
  const std::string full_name =
      executable_real_path.substr(packages.size(), end_of_name - packages.size());
  struct stat info {};
  if (::stat((*root + "/registrations/" + full_name).c_str(), &info) != 0) return std::nullopt;
  const auto family = family_name_of(full_name);
  if (!family) return std::nullopt;
  return *root + "/data/" + *family;
}

}  // namespace

KnownFolderPath stand_in_known_folder_path(KnownFolder folder, KnownFolderMode mode,
                                           const std::string& executable_real_path,
                                           const EnvironmentLookup& environment) {
  const bool local = folder == KnownFolder::local_app_data;
  if (mode == KnownFolderMode::redirected) {
    const auto data = package_data_folder(executable_real_path, environment);
    if (!data) return {kFileNotFound, {}};
    return {0, *data + "/LocalCache/" + (local ? "Local" : "Roaming")};
  }
  if (auto xdg = non_empty(environment, local ? "XDG_DATA_HOME" : "XDG_CONFIG_HOME")) {
    return {0, *xdg};
  }
  const auto home = non_empty(environment, "HOME");
  if (!home) return {kFileNotFound, {}};
  return {0, *home + (local ? "/.local/share" : "/.config")};
}

}  // namespace launcher::platform::posix
