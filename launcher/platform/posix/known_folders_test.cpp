#include "launcher/platform/posix/known_folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>

#include "common/hresult.h"

namespace launcher::platform::posix {
namespace {

TEST(StandInKnownFolders, RedirectedFoldersNeedAPackageAndUserFoldersFollowTheXdgHomes) {
  std::map<std::string, std::string> variables;
  const auto lookup = [&](KnownFolder folder, KnownFolderMode mode,
                          const std::optional<standin::Registration>& package) {
    return stand_in_known_folder_path(folder, mode, package,
                                      [&](const std::string& name) -> std::optional<std::string> {
                                        const auto found = variables.find(name);
                                        if (found == variables.end()) return std::nullopt;
                                        return found->second;
                                      });
  };
  setenv("TREVALON_PLATFORM_ROOT", "/root-of-test", 1);
  standin::Registration package;
  package.family_name = "Demo.App_8wekyb3d8bbwe";
  EXPECT_EQ(lookup(KnownFolder::roaming_app_data, KnownFolderMode::redirected, package).path,
            "/root-of-test/data/Demo.App_8wekyb3d8bbwe/LocalCache/Roaming");
  EXPECT_EQ(lookup(KnownFolder::local_app_data, KnownFolderMode::redirected, std::nullopt).hresult,
            pellora::platform::hresult::file_not_found);
  unsetenv("TREVALON_PLATFORM_ROOT");

  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(lookup(KnownFolder::local_app_data, KnownFolderMode::user, std::nullopt).path,
            "/home/u/.local/share");
  variables["XDG_CONFIG_HOME"] = "/xdg/config";
  EXPECT_EQ(lookup(KnownFolder::roaming_app_data, KnownFolderMode::user, std::nullopt).path,
            "/xdg/config");
}

}  // namespace
}  // namespace launcher::platform::posix
