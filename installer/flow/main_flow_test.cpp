#include "installer/flow/main_flow.h"

#include <gtest/gtest.h>

#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/platform/error.h"
#include "tests/support/fake_deployment.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;
using testing::ScriptedDeployment;

class MainFlow : public ::testing::Test {
 protected:
  MainFlow() {
    fake.services().packages = &packages;
    fake.services().http = &http;
    burned_in_settings.site_base_url = "https://site.test/app/";
    burned_in_settings.appinstaller_file_name = "App.appinstaller";
    burned_in_settings.launch_uri = "trevalon-app:";
    burned_in_settings.app_exe_name = "bin/app";
    create_progress_window();
  }

  // Runs the flow; returns its exit code.
  int run(char mode, std::string args = {}) {
    update_mode = mode;
    forwarded_args = std::move(args);
    try {
      main_flow();
    } catch (const ProcessExit& exit) {
      return exit.code;
    }
    ADD_FAILURE() << "main_flow returned without ending the process";
    return -1;
  }

  testing::ScopedFakePlatform fake;
  testing::FakePackageManager packages;
  testing::FakeHttp http;
};

TEST_F(MainFlow, FirstInstallationOpensTheLaunchUriWithTheArgumentsAlone) {
  packages.additions.push_back(ScriptedDeployment::success());
  EXPECT_EQ(run('0', "--open x"), 0);
  EXPECT_TRUE(fake.debug.contains("Initial installation.\n"));
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].file, "trevalon-app:");
  EXPECT_EQ(fake.shell.calls[0].parameters, "--open x");
}

TEST_F(MainFlow, DigitsSixToNineRunTheNormalStart) {
  packages.additions.push_back(ScriptedDeployment::success());
  EXPECT_EQ(run('8', "y"), 0);
  EXPECT_TRUE(fake.debug.contains("Initial installation.\n"));
}

TEST_F(MainFlow, RestoreWithoutIdentityInstallsThenPassesThePathOn) {
  packages.additions.push_back(ScriptedDeployment::success());
  EXPECT_EQ(run('4', "/tmp/My Backup/appdata.backup"), 0);
  EXPECT_TRUE(fake.debug.contains("Restoring backup.\n"));
  EXPECT_EQ(fake.window.last_view().title, "Installing, please wait");
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].parameters,
            "TREVALON_INTERNAL_UPDATE_MODE=4 /tmp/My Backup/appdata.backup");
}

TEST_F(MainFlow, CancellationEndsWithFiveAndNoBox) {
  fake.shell.result = 5;
  fake.shell.failure_error = 1223;  // elevation refused
  packages.additions.push_back(ScriptedDeployment::failure(0));
  packages.additions.back().error_code = platform::hresult::access_denied;
  EXPECT_EQ(run('0'), 5);
  EXPECT_TRUE(fake.debug.contains("User cancelled the install, exiting.\n"));
  EXPECT_TRUE(fake.window.boxes.empty());
}

TEST_F(MainFlow, PlatformErrorsEndInTheBoxWithTheCodeInHex) {
  fake.package.has_identity = true;
  fake.shell.result = 2;
  fake.shell.failure_error = 2;
  // The package folder cannot be had: Package.Current fails.
  fake.package.installed_path_value.clear();
  fake.package.has_identity = false;
  update_mode = '2';
  EXPECT_EQ(run('2'), 1);
  ASSERT_EQ(fake.window.boxes.size(), 1u);
  EXPECT_NE(fake.window.boxes[0].first.find("Exception whilst installing: [80073d54] "),
            std::string::npos);
}

TEST_F(MainFlow, OtherFailuresEndInTheBoxInsteadOfLookingSuccessful) {
  // No scripted deployment: the fake service raises a plain error, and an install with no
  // outcome must not leave the process waiting.
  packages.additions.clear();
  EXPECT_EQ(run('1'), 1);
  ASSERT_EQ(fake.window.boxes.size(), 1u);
  EXPECT_NE(fake.window.boxes[0].first.find("Exception whilst installing: ["), std::string::npos);
}

}  // namespace
}  // namespace pellora
