#include "installer/flow/app_launch.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;

class AppLaunch : public ::testing::Test {
 protected:
  AppLaunch() {
    fake.services().files = &files;
    fake.package.has_identity = true;
    burned_in_settings.app_exe_name = "App/app.exe";
    burned_in_settings.launch_uri = "trevalon-app:";
  }
  testing::ScopedFakePlatform fake;
  testing::FakeFiles files;
};

TEST_F(AppLaunch, LaunchAppPassesOnlyTheForwardedArguments) {
  create_progress_window();
  update_mode = '1';
  forwarded_args = "--open \"my file\"";
  launch_app();

  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].verb, "open");
  EXPECT_EQ(fake.shell.calls[0].file, fake.package.installed_path_value + "/App/app.exe");
  EXPECT_EQ(fake.shell.calls[0].parameters, "--open \"my file\"");
  EXPECT_FALSE(fake.window.last_view().visible);
  EXPECT_EQ(fake.window.cursors.back(), platform::Cursor::arrow);
  EXPECT_TRUE(fake.debug.contains("Executable path: " + fake.package.installed_path_value +
                                  "/App/app.exe\n"));
}

TEST_F(AppLaunch, OpenLaunchUriPutsTheModeBeforeTheArguments) {
  struct Case {
    RunMode mode;
    std::string args;
    std::string parameters;
  };
  const Case cases[] = {
      {RunMode::normal_start, "a \"b c\"", "a \"b c\""},
      {RunMode::normal_start, "", ""},
      {RunMode::start_app, "", "TREVALON_INTERNAL_UPDATE_MODE=2 "},
      {RunMode::restore_backup, "/tmp/backup dir",
       "TREVALON_INTERNAL_UPDATE_MODE=4 /tmp/backup dir"},
  };
  for (const Case& each : cases) {
    fake.shell.calls.clear();
    open_launch_uri(each.mode, each.args);
    ASSERT_EQ(fake.shell.calls.size(), 1u);
    EXPECT_EQ(fake.shell.calls[0].verb, "open");
    EXPECT_EQ(fake.shell.calls[0].file, "trevalon-app:");
    EXPECT_EQ(fake.shell.calls[0].parameters, each.parameters);
    EXPECT_EQ(fake.shell.calls[0].show_command, 1);
  }
  EXPECT_TRUE(fake.debug.lines().empty());
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>(4, 500));
}

TEST_F(AppLaunch, UnopenableLaunchUriEndsInTheBoxNamingIt) {
  // Here a refused prompt is no cancellation, just a failure like any other.
  for (uint32_t error : {platform::win32::no_association, platform::win32::cancelled}) {
    fake.shell.result = 31;
    fake.shell.failure_error = error;
    EXPECT_THROW(open_launch_uri(RunMode::normal_start, ""), ProcessExit);
    EXPECT_EQ(fake.clipboard.text, "ShellExecute failed with error: [" + std::to_string(error) +
                                       "]: " + platform::format_message(error) +
                                       "Launch URI is trevalon-app:");
  }
}

TEST_F(AppLaunch, StartUpdaterRunsTheTemporaryCopyInForcedUpdateMode) {
  const std::string folder = temp_directory();
  files.put(fake.package.installed_path_value + "/updatecheck.exe", "checker");
  for (const std::string args : {"", "--open x"}) {
    fake.shell.calls.clear();
    forwarded_args = args;
    start_updater();
    ASSERT_EQ(fake.shell.calls.size(), 1u);
    EXPECT_EQ(fake.shell.calls[0].file, folder + "updater.exe");
    EXPECT_EQ(fake.shell.calls[0].parameters, "TREVALON_INTERNAL_UPDATE_MODE=1 " + args);
  }
}

}  // namespace
}  // namespace pellora
