// Which program each start runs, with which arguments, is checked through the main flow
// (main_flow_test.cpp); here what the launches do beside that.
#include "installer/flow/app_launch.h"

#include <gtest/gtest.h>

#include <string>

#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;

class AppLaunch : public ::testing::Test {
 protected:
  AppLaunch() {
    fake.package.has_identity = true;
    burned_in_settings.app_exe_name = "App/app.exe";
    burned_in_settings.launch_uri = "trevalon-app:";
    create_progress_window();
  }
  testing::ScopedFakePlatform fake;
};

TEST_F(AppLaunch, TheWindowIsHiddenBeforeTheApplicationStarts) {
  show_progress_window();
  launch_app();
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].file,
            fake.package.installed_path_value + platform::path_separator() + "App/app.exe");
  EXPECT_FALSE(fake.window.last_view().visible);
  EXPECT_EQ(fake.window.cursors.back(), platform::Cursor::arrow);
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

}  // namespace
}  // namespace pellora
