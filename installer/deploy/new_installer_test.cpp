#include "installer/deploy/new_installer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch_folder.h"

namespace pellora {
namespace {

TEST(NewInstallerUrl, TakesBothPartsFromOneSourceAndGluesThem) {
  BurnedInSettings settings;
  settings.site_base_url = "https://burned.example/app/";
  settings.installer_file_name = "Setup.exe";
  Metadata metadata;

  EXPECT_EQ(new_installer_url(nullptr, settings), "https://burned.example/app/Setup.exe");

  metadata.site_base_url = "https://moved.example/app";
  metadata.exe_installer_name = "NewSetup.exe";
  EXPECT_EQ(new_installer_url(&metadata, settings), "https://moved.example/appNewSetup.exe");

  metadata.exe_installer_name = "";
  EXPECT_EQ(new_installer_url(&metadata, settings), "https://burned.example/app/Setup.exe");

  metadata.site_base_url = "";
  metadata.exe_installer_name = "NewSetup.exe";
  EXPECT_EQ(new_installer_url(&metadata, settings), "https://burned.example/app/Setup.exe");
}

class LaunchNewInstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.system.temp_path_value = scratch_ + "/";
    platform_.services().files = platform::backend_services().files;
    platform_.services().http = &http_;
    burned_in_settings.site_base_url = "https://site.example/app/";
    burned_in_settings.installer_file_name = "Setup.exe";
  }

  testing::ScopedFakePlatform platform_;
  testing::FakeHttp http_;
  pellora::testing::ScratchFolder scratch_folder_;
  std::string scratch_ = scratch_folder_.path();
};

TEST_F(LaunchNewInstaller, StartsTheDownloadInRestoreModeWithTheBackupPathUnquoted) {
  http_.serve("https://site.example/app/Setup.exe", "installer bytes");

  start_new_installer(download_new_installer(nullptr), "/tmp/my backups/appdata.backup");

  EXPECT_EQ(platform_.debug.lines().front(), "Launching new installer \n");
  ASSERT_EQ(platform_.shell.calls.size(), 1u);
  EXPECT_EQ(platform_.shell.calls[0].verb, "open");
  EXPECT_TRUE(platform_.shell.calls[0].file.ends_with("installer.exe"));
  EXPECT_EQ(platform_.shell.calls[0].parameters,
            "TREVALON_INTERNAL_UPDATE_MODE=4 /tmp/my backups/appdata.backup");
}

TEST_F(LaunchNewInstaller, AFailedDownloadIsReportedAndEndsTheProcess) {
  try {
    download_new_installer(nullptr);
    FAIL() << "the process should have ended";
  } catch (const testing::ProcessExit& exit) {
    EXPECT_EQ(exit.code, 1);
  }
  ASSERT_EQ(platform_.window.boxes.size(), 1u);
  EXPECT_NE(platform_.window.boxes[0].first.find(
                "Failed to download https://site.example/app/Setup.exe due to error: "),
            std::string::npos);
  EXPECT_TRUE(platform_.shell.calls.empty());
}

TEST_F(LaunchNewInstaller, ACancelledDownloadIsRaisedAgain) {
  http_.fail("https://site.example/app/Setup.exe", platform::cancelled_error());

  try {
    download_new_installer(nullptr);
    FAIL() << "the cancellation should have been raised";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_TRUE(platform_.window.boxes.empty());
  EXPECT_TRUE(platform_.shell.calls.empty());
}

}  // namespace
}  // namespace pellora
