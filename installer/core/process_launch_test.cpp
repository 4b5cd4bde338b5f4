#include "installer/core/process_launch.h"

#include <gtest/gtest.h>

#include <string>

#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;

class LaunchProcess : public ::testing::Test {
 protected:
  LaunchProcess() {
    fake.package.has_identity = true;
    fake.package.installed_path_value = fake.scratch.path("package");
  }
  testing::ScopedFakePlatform fake;
};

TEST_F(LaunchProcess, StartsThroughTheShellAndPauses) {
  launch_process("/opt/My App/app", "", false);
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].verb, "open");
  EXPECT_EQ(fake.shell.calls[0].file, "/opt/My App/app");
  EXPECT_EQ(fake.shell.calls[0].parameters, "");
  EXPECT_EQ(fake.shell.calls[0].show_command, 1);
  // Empty parameters still leave the quote and the space in the log.
  EXPECT_EQ(fake.debug.lines(), std::vector<std::string>{"Full command: \"/opt/My App/app\" \n"});
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>{500});

  launch_process("/opt/app", "a \"b c\"", true);
  EXPECT_EQ(fake.shell.calls[1].verb, "runas");
  EXPECT_EQ(fake.shell.calls[1].parameters, "a \"b c\"");
}

TEST_F(LaunchProcess, AResultOfThirtyTwoIsAFailure) {
  fake.shell.result = 33;
  launch_process("/opt/app", "x", false);
  EXPECT_TRUE(fake.window.boxes.empty());

  fake.shell.result = 32;
  fake.shell.failure_error = platform::win32::access_denied;
  EXPECT_THROW(launch_process("/opt/app", "x", false), ProcessExit);
  EXPECT_EQ(fake.clipboard.text, "ShellExecute failed with error: [5]: " +
                                     platform::format_message(5) + ": full path is \"/opt/app\" x");
}

TEST_F(LaunchProcess, RefusedElevationIsACancellationWithoutPause) {
  fake.shell.result = 5;
  fake.shell.failure_error = platform::win32::cancelled;
  try {
    launch_process("/opt/app", "", true);
    ADD_FAILURE() << "launch_process returned";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_EQ(fake.debug.lines().back(), "Installation cancelled by the user, quitting.");
  EXPECT_TRUE(fake.system.sleeps.empty());
  EXPECT_TRUE(fake.window.boxes.empty());
}

TEST_F(LaunchProcess, TempCopyReplacesAnOlderCopyAndStartsIt) {
  const std::string target = temp_directory() + "updater.exe";
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

TEST_F(LaunchProcess, TempCopyFailureEndsInTheBox) {
  // No package folder to copy from.
  EXPECT_THROW(launch_temp_copy("updatecheck.exe", "updater.exe", ""), ProcessExit);
  EXPECT_EQ(fake.clipboard.text, "CopyFile failed with error: [3]: " + platform::format_message(3));
  EXPECT_TRUE(fake.shell.calls.empty());
}

}  // namespace
}  // namespace pellora
