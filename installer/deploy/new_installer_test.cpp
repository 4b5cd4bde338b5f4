#include "installer/deploy/new_installer.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

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
  LaunchNewInstaller() {
    fake.services().http = &http;
    burned_in_settings.site_base_url = "https://site.example/app/";
    burned_in_settings.installer_file_name = "Setup.exe";
  }
  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
};

TEST_F(LaunchNewInstaller, StartsTheDownloadInRestoreModeWithTheBackupPathUnquoted) {
  http.serve("https://site.example/app/Setup.exe", "installer bytes");
  start_new_installer(download_new_installer(nullptr), "/tmp/my backups/appdata.backup");
  EXPECT_EQ(fake.debug.lines().front(), "Launching new installer \n");
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].verb, "open");
  EXPECT_EQ(fake.shell.calls[0].file, temp_directory() + "installer.exe");
  EXPECT_EQ(fake.shell.calls[0].parameters,
            "TREVALON_INTERNAL_UPDATE_MODE=4 /tmp/my backups/appdata.backup");
}

// A failed download's box: Reinstall.AReinstallThatCannotCompleteRemovesNothing.
TEST_F(LaunchNewInstaller, ACancelledDownloadIsRaisedAgain) {
  http.fail("https://site.example/app/Setup.exe", platform::cancelled_error());
  EXPECT_EQ(testing::ending_of([] { download_new_installer(nullptr); }), "cancelled");
  EXPECT_TRUE(fake.window.boxes.empty());
  EXPECT_TRUE(fake.shell.calls.empty());
}

}  // namespace
}  // namespace pellora
