#include "installer/core/process_launch.h"

#include <gtest/gtest.h>

#include <string>

#include "common/error.h"
#include "installer/core/progress_window.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ending_of;

class LaunchProcess : public ::testing::Test {
 protected:
  LaunchProcess() {
    fake.package.has_identity = true;
    fake.package.installed_path_value = fake.scratch.path("package");
  }
  testing::ScopedFakePlatform fake;
};

TEST_F(LaunchProcess, ClosingTheWindowAfterASuccessfulLaunchIsNoCancellation) {
  create_progress_window();
  set_flow_running(true);
  launch_process("/opt/app", "", false);
  // During the pause that follows: the window closes as a finished run's window does.
  EXPECT_NO_THROW(on_window_event(platform::WindowEvent::close));
  EXPECT_FALSE(fake.debug.contains("User cancelled the install, exiting.\n"));
}

TEST_F(LaunchProcess, StartsThroughTheShellAndPauses) {
  launch_process("/opt/My App/app", "", false);
  launch_process("/opt/app", "a \"b c\"", true);
  ASSERT_EQ(fake.shell.calls.size(), 2u);
  EXPECT_EQ(fake.shell.calls[0].verb + " " + fake.shell.calls[0].file, "open /opt/My App/app");
  EXPECT_EQ(fake.shell.calls[0].show_command, 1);
  EXPECT_EQ(fake.shell.calls[1].verb + " " + fake.shell.calls[1].parameters, "runas a \"b c\"");
  // Empty parameters still leave the quote and the space in the log.
  EXPECT_EQ(fake.debug.lines().front(), "Full command: \"/opt/My App/app\" \n");
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>(2, 500));
}

TEST_F(LaunchProcess, AResultOfThirtyTwoIsAFailureAndARefusedElevationACancellation) {
  fake.shell.result = 33;
  EXPECT_EQ(ending_of([] { launch_process("/opt/app", "x", false); }), "returned");
  fake.shell.result = 32;
  fake.shell.failure_error = platform::win32::access_denied;
  EXPECT_EQ(ending_of([] { launch_process("/opt/app", "x", false); }), "exit 1");
  EXPECT_EQ(fake.clipboard.text, "ShellExecute failed with error: [5]: " +
                                     platform::format_message(5) + ": full path is \"/opt/app\" x");

  fake.system.sleeps.clear();
  fake.shell.failure_error = platform::win32::cancelled;
  EXPECT_EQ(ending_of([] { launch_process("/opt/app", "", true); }), "cancelled");
  EXPECT_EQ(fake.debug.lines().back(), "Installation cancelled by the user, quitting.");
  EXPECT_TRUE(fake.system.sleeps.empty());
  EXPECT_EQ(fake.window.boxes.size(), 1u);
}

TEST_F(LaunchProcess, ATemporaryCopyReplacesAnOlderOneAndStarts) {
  const std::string target = temp_directory() + "updater.exe";
  // No package folder to copy from.
  EXPECT_EQ(ending_of([] { launch_temp_copy("updatecheck.exe", "updater.exe", ""); }), "exit 1");
  EXPECT_EQ(fake.clipboard.text, "CopyFile failed with error: [3]: " + platform::format_message(3));
  EXPECT_TRUE(fake.shell.calls.empty());

  fake.scratch.write("package/updatecheck.exe", "new build");
  fake.scratch.write("App_1.0.0.0_arm64__abc/updater.exe", "old build");
  launch_temp_copy("updatecheck.exe", "updater.exe", "TREVALON_INTERNAL_UPDATE_MODE=1 ");
  EXPECT_EQ(fake.scratch.read("App_1.0.0.0_arm64__abc/updater.exe"), "new build");
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].file, target);
  EXPECT_EQ(fake.shell.calls[0].parameters, "TREVALON_INTERNAL_UPDATE_MODE=1 ");
  EXPECT_TRUE(fake.debug.contains("Package location: " + fake.package.installed_path_value + "\n"));
  EXPECT_TRUE(fake.debug.contains("Temporary executable path: " + target + "\n"));
}

TEST_F(LaunchProcess, TempCopyRefusesAPathOutOfThePackage) {
  fake.scratch.write("secret.exe", "not the package's");
  for (const std::string path : {"../secret.exe", "a/../../secret.exe", "..\\secret.exe",
                                 "/secret.exe", "\\secret.exe", "C:secret.exe"}) {
    EXPECT_FALSE(launch_temp_copy(path, "escape-hatch.exe", "")) << path;
    EXPECT_TRUE(
        fake.debug.contains("Not starting " + path + ": it lies outside the package's folder.\n"));
  }
  EXPECT_TRUE(fake.shell.calls.empty());
  EXPECT_TRUE(lies_inside_package("tools/a..b/fix.exe"));
}

}  // namespace
}  // namespace pellora
