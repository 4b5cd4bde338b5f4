#include "installer/flow/main_flow.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/appdata/backup_store.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/settings/metadata.h"
#include "tests/support/fake_deployment.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ScriptedDeployment;

class MainFlow : public ::testing::Test {
 protected:
  MainFlow() {
    fake.services().packages = &packages;
    fake.services().http = &http;
    fake.package.installed_path_value = fake.scratch.path("package");
    fake.scratch.write("package/updatecheck.exe", "checker");
    burned_in_settings.site_base_url = "https://site.test/app/";
    burned_in_settings.appinstaller_file_name = "App.appinstaller";
    burned_in_settings.launch_uri = "trevalon-app:";
    burned_in_settings.app_exe_name = "bin/app";
    create_progress_window();
  }

  // Runs the flow: how it ended (it always ends the process).
  std::string run(char mode, std::string args = {}) {
    update_mode = mode;
    forwarded_args = std::move(args);
    return testing::ending_of(main_flow);
  }

  // What the flow started, as "file parameters", with the scratch folder written as "~" and "/"
  // for each separator of the OS.
  std::vector<std::string> started() const {
    std::vector<std::string> found;
    for (const auto& call : fake.shell.calls) {
      std::string file = call.file;
      if (file.rfind(fake.scratch.path(), 0) == 0)
        file = "~" + file.substr(fake.scratch.path().size());
      for (char& c : file) c = c == '\\' ? '/' : c;
      found.push_back(file + " " + call.parameters);
    }
    return found;
  }

  testing::ScopedFakePlatform fake;
  testing::FakePackageManager packages;
  testing::FakeHttp http;
};

// Which way each run mode goes, from the package's identity, the burned-in update setting and
// the site's version (1.0.0.0 is the installed one; none: the site is down).
struct Path {
  const char* name;
  char mode;
  bool identity;
  bool aggressive;
  const char* site_version;
  std::vector<std::string> log_in_order;  // fragments of the log, in this order
  std::string started;                    // the one program started, as "file parameters"
};

class MainFlowPath : public MainFlow, public ::testing::WithParamInterface<Path> {};

TEST_P(MainFlowPath, StartsWhatItsRowSaysAndExitsWithZero) {
  const Path& path = GetParam();
  fake.package.has_identity = path.identity;
  burned_in_settings.aggressive_updates = path.aggressive;
  if (path.site_version != nullptr) {
    http.serve("https://site.test/app/metadata.properties",
               std::string("app.windows.manifests.version-quad=") + path.site_version);
  }
  packages.additions.push_back(ScriptedDeployment::success());

  EXPECT_EQ(run(path.mode, "--open \"a b\""), "exit 0");

  EXPECT_EQ(started(), std::vector<std::string>{path.started});
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>{500});  // the pause after each start
  const std::string log = fake.debug.text();
  size_t at = 0;
  for (const std::string& fragment : path.log_in_order) {
    at = log.find(fragment, at);
    ASSERT_NE(at, std::string::npos) << fragment << " in order in:\n" << log;
  }
  EXPECT_TRUE(fake.window.boxes.empty());
}

const std::string app = "~/package/bin/app --open \"a b\"";
const std::string launch_uri = "trevalon-app: ";

Path row(const char* name, char mode, bool identity, bool aggressive, const char* site_version,
         std::vector<std::string> log_in_order, std::string started) {
  return {name, mode, identity, aggressive, site_version, std::move(log_in_order), started};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MainFlowPath,
    ::testing::Values(
        row("FirstInstall", '0', false, false, "1.0.0.0", {"Initial installation.\n"},
            launch_uri + "--open \"a b\""),
        row("RestoreWithoutIdentityInstallsThenPassesThePathOn", '4', false, false, nullptr,
            {"Restoring backup.\n"}, launch_uri + "TREVALON_INTERNAL_UPDATE_MODE=4 --open \"a b\""),
        row("PackagedStartsTheAppBeforeTheMetadata", '0', true, false, "1.1.0.0",
            {"App launched.\n", "Not in aggressive mode", "Full command: ", "Downloading metadata"},
            app),
        row("AggressiveWithTheSameVersionStartsTheApp", '0', true, true, "1.0.0.0",
            {"Downloading metadata", "Metadata version: 1.0.0.0\n", "Full command: "}, app),
        row("AggressiveWithAnotherVersionStartsTheUpdater", '0', true, true, "1.1.0.0",
            {"Metadata version: 1.1.0.0\n", "Temporary executable path: "},
            "~/App_1.0.0.0_arm64__abc/updater.exe TREVALON_INTERNAL_UPDATE_MODE=1 --open \"a b\""),
        row("UpdateCheckWithTheSiteDownStartsTheApp", '5', true, false, nullptr,
            {"Just check for updates.\n", "Failed to download ", "Full command: "}, app),
        row("ForcedUpdateInstallsThenStartsTheApp", '1', true, false, nullptr,
            {"Forcing update.\n"}, launch_uri + "TREVALON_INTERNAL_UPDATE_MODE=2 --open \"a b\""),
        row("StartAppStartsItAtOnce", '2', true, true, "1.1.0.0",
            {"Already checked for update, just start the app.\n"}, app)),
    [](const ::testing::TestParamInfo<Path>& info) { return std::string(info.param.name); });

// Past its budget the start's update check is skipped and the application starts.
TEST_F(MainFlow, TheStartsUpdateCheckHasABudget) {
  fake.package.has_identity = true;
  burned_in_settings.aggressive_updates = true;
  http.on_get_buffer = [this](const std::string&) {
    fake.system.tick_count += 5000;
    throw platform::PlatformError(platform::hresult::timeout, "The operation timed out");
  };
  for (const char mode : {'0', '5'}) {
    http.time_limits.clear();
    fake.shell.calls.clear();
    EXPECT_EQ(run(mode), "exit 0");
    EXPECT_EQ(started(), std::vector<std::string>{"~/package/bin/app "});
    EXPECT_EQ(http.time_limits, decltype(http.time_limits){start_update_check_budget});
    EXPECT_TRUE(fake.debug.contains("Update check skipped: "));
  }
}

TEST_F(MainFlow, CancellationEndsWithFiveAndNoBox) {
  fake.shell.result = 5;
  fake.shell.failure_error = platform::win32::cancelled;  // elevation refused
  packages.additions.push_back(ScriptedDeployment::failure(0));
  packages.additions.back().error_code = platform::hresult::access_denied;
  EXPECT_EQ(run('0'), "exit 5");
  EXPECT_TRUE(fake.debug.contains("User cancelled the install, exiting.\n"));
  EXPECT_TRUE(fake.window.boxes.empty());
}

TEST_F(MainFlow, FailuresEndInTheBoxWithExitOneInsteadOfLookingSuccessful) {
  // A platform error: its code in hex and its message.
  EXPECT_EQ(run('2'), "exit 1");  // start_app without package identity
  EXPECT_EQ(fake.clipboard.text,
            "Exception whilst installing: [80073d54] The process has no package identity.\n");

  // Any other failure: a standard-library exception, here from the pause after the launch.
  fake.system.on_sleep = [](uint32_t) { throw std::runtime_error("boom"); };
  packages.additions.push_back(ScriptedDeployment::success());
  EXPECT_EQ(run('1'), "exit 1");
  EXPECT_EQ(fake.clipboard.text, "Exception whilst installing: boom\n");
  EXPECT_EQ(fake.window.boxes.size(), 2u);
}

// Reinstalls of one family never overlap: the second waits a bounded time, then ends in its box
// having touched nothing; the packaged start leaves the backups to the reinstall under way.
TEST_F(MainFlow, ASecondReinstallWaitsThenStopsWithoutTouchingAnything) {
  const std::string family = fake.scratch.path("App_abc/");
  fake.scratch.write("App_abc/appdata.backup.1/Local/x", "waiting");
  fake.scratch.write("App_abc/appdata.backup.1/backup.complete", "");
  bool busy = false;
  const auto other = ReinstallLock::take(family, "", 0, busy);
  ASSERT_NE(other, nullptr);

  EXPECT_EQ(run('3'), "exit 1");
  EXPECT_EQ(fake.clipboard.text.value_or("").rfind(
                "Another reinstall of the application is under way.", 0),
            0u);
  EXPECT_EQ(fake.system.sleeps.size(), 20u);  // 5 s in all
  EXPECT_TRUE(packages.remove_calls.empty());
  EXPECT_TRUE(fake.shell.calls.empty());

  fake.package.has_identity = true;
  EXPECT_EQ(run('2'), "exit 0");
  EXPECT_EQ(fake.scratch.read("App_abc/appdata.backup.1/Local/x"), "waiting");
  EXPECT_TRUE(fake.debug.contains("are in use by a reinstall; they are left to it.\n"));
}

}  // namespace
}  // namespace pellora
