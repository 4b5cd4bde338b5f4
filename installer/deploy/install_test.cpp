#include "installer/deploy/install.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_deployment.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using platform::AsyncStatus;
using platform::DeploymentProgress;
using platform::DeploymentProgressState;
using testing::ProcessExit;
using testing::ScriptedDeployment;

constexpr const char* appinstaller_uri = "https://example.test/app/App.appinstaller";
constexpr const char* certificate_uri = "https://example.test/app/App.cer";

std::string failure_message(const std::string& error_text) {
  return std::string("Failed to install ") + appinstaller_uri + " due to error: " + error_text;
}

class DoInstall : public ::testing::Test {
 protected:
  DoInstall() {
    fake.services().packages = &packages;
    fake.services().http = &http;
    burned_in_settings.site_base_url = "https://example.test/app/";
    burned_in_settings.appinstaller_file_name = "App.appinstaller";
    burned_in_settings.certificate_file_name = "App.cer";
    http.serve(certificate_uri, "certificate bytes");
    create_progress_window();
  }

  void script(std::vector<ScriptedDeployment> outcomes) {
    for (auto& outcome : outcomes) packages.additions.push_back(std::move(outcome));
  }

  // The exit code of a do_install that must end the process.
  int exit_code_of_do_install() {
    try {
      do_install();
    } catch (const ProcessExit& exit) {
      return exit.code;
    }
    ADD_FAILURE() << "do_install returned";
    return -1;
  }

  std::vector<std::string> attempt_lines() const {
    std::vector<std::string> found;
    for (const auto& line : fake.debug.lines()) {
      if (line.find("attempts remaining.") != std::string::npos) found.push_back(line);
    }
    return found;
  }

  int count_lines(const std::string& line) const {
    int count = 0;
    for (const auto& each : fake.debug.lines()) count += each == line ? 1 : 0;
    return count;
  }

  testing::ScopedFakePlatform fake;
  testing::FakePackageManager packages;
  testing::FakeHttp http;
};

const std::vector<std::string> all_five_attempts = {
    "5 attempts remaining.\n\n", "4 attempts remaining.\n\n", "3 attempts remaining.\n\n",
    "2 attempts remaining.\n\n", "1 attempts remaining.\n\n"};

TEST_F(DoInstall, SucceedsAfterOneAttempt) {
  script({ScriptedDeployment::success()});
  EXPECT_TRUE(do_install());

  EXPECT_EQ(attempt_lines(), std::vector<std::string>{"5 attempts remaining.\n\n"});
  ASSERT_EQ(packages.add_calls.size(), 1u);
  EXPECT_EQ(packages.add_calls[0].uri, appinstaller_uri);
  EXPECT_EQ(packages.add_calls[0].options, 64u);
  EXPECT_EQ(packages.add_calls[0].volume, packages.volume);
  EXPECT_EQ(count_lines(std::string("URI: ") + appinstaller_uri + "\n"), 1);
  EXPECT_EQ(count_lines("Waiting ...\n"), 1);
  EXPECT_EQ(count_lines("Result: op.status: 1 op.error: 0 code=0, IsRegistered=1\n"), 1);
  EXPECT_FALSE(has_current_operation());
  EXPECT_TRUE(fake.system.sleeps.empty());
}

TEST_F(DoInstall, ProgressSwitchesTheWindowOnceEachAttempt) {
  std::vector<platform::WindowView> seen;
  auto record = [&](size_t) { seen.push_back(progress_window_view()); };
  ScriptedDeployment busy = ScriptedDeployment::failure(platform::hresult::busy_snapshot);
  busy.progress = {{DeploymentProgressState::queued, 0}, {DeploymentProgressState::processing, 10}};
  busy.after_report = record;
  ScriptedDeployment success = ScriptedDeployment::success();
  success.progress = {{DeploymentProgressState::queued, 0},
                      {DeploymentProgressState::processing, 40},
                      {DeploymentProgressState::processing, 70},
                      {DeploymentProgressState::completed, 100}};
  success.after_report = record;
  bool registered_while_waiting = false;
  success.while_waiting = [&] { registered_while_waiting = has_current_operation(); };
  script({busy, success});

  EXPECT_TRUE(do_install());
  ASSERT_EQ(seen.size(), 6u);
  for (size_t attempt_start : {0u, 2u}) {
    // Before Processing the bar runs a marquee and Cancel cannot be pressed.
    EXPECT_TRUE(seen[attempt_start].marquee);
    EXPECT_FALSE(seen[attempt_start].cancel_enabled);
    EXPECT_EQ(seen[attempt_start].title, "Installing, please wait");
  }
  EXPECT_FALSE(seen[1].marquee);
  EXPECT_TRUE(seen[1].cancel_enabled);
  EXPECT_EQ(seen[1].title, "Downloading, please wait");
  EXPECT_EQ(seen[1].position, 10u);
  EXPECT_EQ(seen[4].position, 70u);
  EXPECT_EQ(seen[5].position, 100u);
  EXPECT_EQ(seen[5].title, "Downloading, please wait");
  EXPECT_TRUE(registered_while_waiting);
  EXPECT_FALSE(has_current_operation());
}

TEST_F(DoInstall, BusyEveryTimeGivesFiveAttemptsFourPausesThenTheFailureBox) {
  for (int i = 0; i < 5; ++i) {
    script({ScriptedDeployment::failure(platform::hresult::busy_snapshot, "database is busy")});
  }
  EXPECT_EQ(exit_code_of_do_install(), 1);

  EXPECT_EQ(attempt_lines(), all_five_attempts);
  EXPECT_EQ(packages.add_calls.size(), 5u);
  EXPECT_EQ(packages.volume_lookups, 5);
  EXPECT_EQ(fake.system.sleeps, (std::vector<uint32_t>{1000, 1000, 1000, 1000}));
  EXPECT_EQ(count_lines("SQLITE busy, retrying.\n"), 4);
  EXPECT_EQ(count_lines("Result: op.status: 3 op.error: -2018573819 code=-2018573819, "
                        "IsRegistered=0\n"),
            5);
  EXPECT_EQ(fake.clipboard.text, failure_message("database is busy"));
}

TEST_F(DoInstall, BusyAndUntrustedRetriesShareOneBudget) {
  script({ScriptedDeployment::failure(platform::hresult::busy_snapshot),
          ScriptedDeployment::failure(platform::hresult::busy_snapshot),
          ScriptedDeployment::failure(platform::hresult::untrusted_root),
          ScriptedDeployment::failure(platform::hresult::busy_snapshot),
          ScriptedDeployment::failure(platform::hresult::busy_snapshot, "still busy")});
  EXPECT_EQ(exit_code_of_do_install(), 1);

  EXPECT_EQ(attempt_lines(), all_five_attempts);
  EXPECT_EQ(fake.system.sleeps, (std::vector<uint32_t>{1000, 1000, 2000, 1000}));
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].file, "powershell");
  EXPECT_EQ(http.requests, std::vector<std::string>{certificate_uri});
  EXPECT_EQ(fake.clipboard.text, failure_message("still busy"));
}

// How one deployment outcome (or a short series) ends the install: installed (returns true) or
// the error box with its text, and how many certificate imports it took.
struct Outcome {
  const char* name;
  std::vector<ScriptedDeployment> script;
  std::string clipboard;  // empty: installed
  int imports = 0;
  bool with_certificate = true;
  bool administrator = true;
};

class DoInstallOutcome : public DoInstall, public ::testing::WithParamInterface<Outcome> {};

TEST_P(DoInstallOutcome, EndsAsItsRowSays) {
  const Outcome& outcome = GetParam();
  if (!outcome.with_certificate) burned_in_settings.certificate_file_name.clear();
  fake.system.is_admin = outcome.administrator;
  script(outcome.script);
  if (outcome.clipboard.empty()) {
    EXPECT_TRUE(do_install());
  } else {
    EXPECT_EQ(exit_code_of_do_install(), 1);
  }
  EXPECT_EQ(fake.clipboard.text.value_or(""), outcome.clipboard);
  EXPECT_EQ(fake.shell.calls.size(), static_cast<size_t>(outcome.imports));
  EXPECT_EQ(http.requests.size(), static_cast<size_t>(outcome.imports));
}

ScriptedDeployment failed(uint32_t extended_code, std::string text = {}) {
  return ScriptedDeployment::failure(extended_code, std::move(text));
}
ScriptedDeployment unregistered() {
  ScriptedDeployment outcome = ScriptedDeployment::success();
  outcome.is_registered = false;
  outcome.error_text = "not registered";
  return outcome;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DoInstallOutcome,
    ::testing::Values(
        // A downgrade is recognised by the low sixteen bits alone, and ignored.
        Outcome{"Downgrade", {failed(0x80073D06u)}, ""},
        Outcome{"DowngradeLowBitsOnly", {failed(0x00003D06u)}, ""},
        Outcome{"DowngradeOtherHighBits", {failed(0xFFFF3D06u)}, ""},
        Outcome{"NextCodeIsNoDowngrade", {failed(0x80073D07u, "other")}, failure_message("other")},
        // An untrusted root is also recognised by the exact prefix of the error text.
        Outcome{"UntrustedByText",
                {failed(0x80073CF3u, "error 0x800B0109: untrusted"), ScriptedDeployment::success()},
                "",
                1},
        Outcome{"UntrustedTextInCapitals",
                {failed(0x80073CF3u, "Error 0x800B0109: x")},
                failure_message("Error 0x800B0109: x")},
        Outcome{"UntrustedTextInLowerCaseHex",
                {failed(0x80073CF3u, "error 0x800b0109: x")},
                failure_message("error 0x800b0109: x")},
        Outcome{"UntrustedTextCut",
                {failed(0x80073CF3u, "error 0x800B010")},
                failure_message("error 0x800B010")},
        Outcome{"UntrustedWithoutACertificate",
                {failed(platform::hresult::untrusted_root, "untrusted")},
                failure_message("untrusted"),
                0,
                false},
        Outcome{"NoRangeRequests",
                {failed(platform::hresult::insufficient_range_support, "x")},
                "The web server doesn't support HTTP range requests. Please see "
                "https://docs.trevalon.dev/redir/http-range-requests to learn more."},
        Outcome{"CompletedButNotRegistered", {unregistered()}, failure_message("not registered")},
        Outcome{"AccessDeniedForANonAdministrator",
                {failed(platform::hresult::access_denied)},
                "You do not have permission to install this package. Talk to your system "
                "administrator.",
                0,
                true,
                false}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

struct AccessDeniedCase {
  char mode;
  std::string expected_parameters;
};

class DoInstallAccessDenied : public DoInstall,
                              public ::testing::WithParamInterface<AccessDeniedCase> {};

TEST_P(DoInstallAccessDenied, RestartsElevatedInTheSameModeAndExitsWithZero) {
  update_mode = GetParam().mode;
  forwarded_args = "--open \"my file.txt\"";
  // The refusal decides even when the extended code names a retryable cause.
  ScriptedDeployment denied = ScriptedDeployment::failure(platform::hresult::busy_snapshot);
  denied.error_code = platform::hresult::access_denied;
  script({denied});
  EXPECT_EQ(exit_code_of_do_install(), 0);

  EXPECT_EQ(count_lines("Result: op.status: 3 op.error: -2147024891 code=-2018573819, "
                        "IsRegistered=0\n"),
            1);
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].verb, "runas");
  EXPECT_EQ(fake.shell.calls[0].file, fake.system.module_file_name_value);
  EXPECT_EQ(fake.shell.calls[0].parameters, GetParam().expected_parameters);
  EXPECT_FALSE(fake.window.last_view().visible);
  EXPECT_EQ(fake.window.cursors.back(), platform::Cursor::arrow);
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>{500});
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DoInstallAccessDenied,
    ::testing::Values(
        AccessDeniedCase{'0', "--open \"my file.txt\""},
        AccessDeniedCase{'1', "TREVALON_INTERNAL_UPDATE_MODE=1 --open \"my file.txt\""},
        AccessDeniedCase{'4', "TREVALON_INTERNAL_UPDATE_MODE=4 --open \"my file.txt\""}));

TEST_F(DoInstall, CancelDuringTheDeploymentCancelsIt) {
  ScriptedDeployment running = ScriptedDeployment::success();
  running.progress = {{DeploymentProgressState::processing, 5}};
  running.while_waiting = [] { on_window_event(platform::WindowEvent::cancel); };
  script({running});
  try {
    do_install();
    ADD_FAILURE() << "do_install returned";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_EQ(packages.operations.at(0)->cancel_calls(), 1);
  EXPECT_FALSE(has_current_operation());
}

TEST_F(DoInstall, CancelDuringTheBusyPauseEndsAtTheNextAttemptHead) {
  fake.system.on_sleep = [](uint32_t) {
    EXPECT_TRUE(progress_window_view().cancel_enabled);
    EXPECT_EQ(progress_window_view().title, "System is busy, retrying");
    on_window_event(platform::WindowEvent::cancel);
  };
  script({ScriptedDeployment::failure(platform::hresult::busy_snapshot),
          ScriptedDeployment::success()});
  try {
    do_install();
    ADD_FAILURE() << "do_install returned";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_EQ(packages.add_calls.size(), 1u);
  EXPECT_EQ(attempt_lines(), std::vector<std::string>{"5 attempts remaining.\n\n"});
}

}  // namespace
}  // namespace pellora
