#include "installer/core/process_launch.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "installer/core/progress_window.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;

class LaunchProcess : public ::testing::Test {
 protected:
  LaunchProcess() {
    fake.services().files = &files;
    fake.package.has_identity = true;
  }

  // The program's temporary folder, or nothing while that unit is still a placeholder here.
  testing::ScopedFakePlatform fake;
  testing::FakeFiles files;
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

TEST_F(LaunchProcess, PackageLocationNeedsPackageIdentity) {
  EXPECT_EQ(package_location(), fake.package.installed_path_value);
  fake.package.has_identity = false;
  EXPECT_THROW(package_location(), platform::PlatformError);
}

TEST_F(LaunchProcess, TempCopyReplacesAnOlderCopyAndStartsIt) {
  const std::string folder = temp_directory();
  const std::string source = fake.package.installed_path_value + "/updatecheck.exe";
  const std::string target = folder + "updater.exe";
  files.put(source, "new build");
  files.put(target, "old build");

  launch_temp_copy("updatecheck.exe", "updater.exe", "TREVALON_INTERNAL_UPDATE_MODE=1 ");
  EXPECT_EQ(files.content(target), "new build");
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].file, target);
  EXPECT_EQ(fake.shell.calls[0].parameters, "TREVALON_INTERNAL_UPDATE_MODE=1 ");
  EXPECT_TRUE(fake.debug.contains("Package location: " + fake.package.installed_path_value + "\n"));
  EXPECT_TRUE(fake.debug.contains("Executable path: " + source + "\n"));
  EXPECT_TRUE(fake.debug.contains("Temporary executable path: " + target + "\n"));
}

TEST_F(LaunchProcess, TempCopyRefusesAPathOutOfThePackage) {
  files.put("/secret.exe", "not the package's");
  for (const std::string path : {"../../secret.exe", "a/../../secret.exe", "..\\secret.exe",
                                 "/secret.exe", "\\secret.exe", "C:secret.exe"}) {
    EXPECT_FALSE(launch_temp_copy(path, "escape-hatch.exe", "")) << path;
    EXPECT_TRUE(
        fake.debug.contains("Not starting " + path + ": it lies outside the package's folder.\n"));
  }
  EXPECT_TRUE(fake.shell.calls.empty());
  EXPECT_TRUE(files.copies.empty());
  EXPECT_TRUE(lies_inside_package("tools/a..b/fix.exe"));
}

TEST_F(LaunchProcess, TempCopyFailureEndsInTheBox) {
  const std::string folder = temp_directory();
  files.copy_failure_error = platform::win32::access_denied;
  EXPECT_THROW(launch_temp_copy("updatecheck.exe", "updater.exe", ""), ProcessExit);
  EXPECT_EQ(fake.clipboard.text, "CopyFile failed with error: [5]: " + platform::format_message(5));
  EXPECT_TRUE(fake.shell.calls.empty());
}

}  // namespace
}  // namespace pellora
