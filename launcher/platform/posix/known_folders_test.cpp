#include "launcher/platform/posix/known_folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace launcher::platform::posix {
namespace {

namespace fs = std::filesystem;

class StandInKnownFolders : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "known-folders-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    temp_ = fs::canonical(pattern);
    root_ = temp_ / "root";
    fs::create_directories(root_ / "packages" / kFullName / "bin");
    fs::create_directories(root_ / "registrations");
    std::ofstream(root_ / "packages" / kFullName / "bin" / "launcher") << "x";
    std::ofstream(root_ / "registrations" / kFullName) << "registered";
    variables_ = {{"TREVALON_PLATFORM_ROOT", root_.string()}, {"HOME", "/home/u"}};
  }
  void TearDown() override { fs::remove_all(temp_); }

  KnownFolderPath lookup(KnownFolder folder, KnownFolderMode mode, const std::string& exe) {
    return stand_in_known_folder_path(
        folder, mode, exe, [this](const std::string& name) -> std::optional<std::string> {
          const auto found = variables_.find(name);
          if (found == variables_.end()) return std::nullopt;
          return found->second;
        });
  }
  std::string packaged_exe() const {
    return (root_ / "packages" / kFullName / "bin" / "launcher").string();
  }

  static constexpr const char* kFullName = "Demo.App_1.2.3.0_arm64__8wekyb3d8bbwe";
  fs::path temp_;
  fs::path root_;
  std::map<std::string, std::string> variables_;
};

TEST_F(StandInKnownFolders, RootReachedThroughASymlinkStillGivesIdentity) {
  fs::create_directory_symlink(root_, temp_ / "link");
  variables_["TREVALON_PLATFORM_ROOT"] = (temp_ / "link").string();
  EXPECT_EQ(
      lookup(KnownFolder::local_app_data, KnownFolderMode::redirected, packaged_exe()).hresult, 0u);
}

TEST_F(StandInKnownFolders, WithoutIdentityTheRedirectedLookupFindsNothing) {
  const auto outside = lookup(KnownFolder::local_app_data, KnownFolderMode::redirected,
                              (temp_ / "elsewhere" / "launcher").string());
  EXPECT_EQ(outside.hresult, kFileNotFound);

  fs::remove(root_ / "registrations" / kFullName);
  EXPECT_EQ(
      lookup(KnownFolder::roaming_app_data, KnownFolderMode::redirected, packaged_exe()).hresult,
      kFileNotFound);
}

TEST_F(StandInKnownFolders, UserLookupFollowsTheXdgHomes) {
  EXPECT_EQ(lookup(KnownFolder::local_app_data, KnownFolderMode::user, packaged_exe()).path,
            "/home/u/.local/share");
  EXPECT_EQ(lookup(KnownFolder::roaming_app_data, KnownFolderMode::user, packaged_exe()).path,
            "/home/u/.config");
  variables_["XDG_DATA_HOME"] = "/xdg/data";
  variables_["XDG_CONFIG_HOME"] = "/xdg/config";
  EXPECT_EQ(lookup(KnownFolder::local_app_data, KnownFolderMode::user, packaged_exe()).path,
            "/xdg/data");
  EXPECT_EQ(lookup(KnownFolder::roaming_app_data, KnownFolderMode::user, packaged_exe()).path,
            "/xdg/config");
}

}  // namespace
}  // namespace launcher::platform::posix
