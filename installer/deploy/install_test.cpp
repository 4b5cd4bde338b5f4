// The install's retries, texts and decisions, with a scripted deployment service: the one home of
// the attempt budget (the end-to-end suites check the wiring only).
#include "installer/deploy/install.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "tests/support/fake_deployment.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using platform::DeploymentProgressState;
using testing::ScriptedDeployment;

constexpr uint32_t busy = platform::hresult::busy_snapshot;
const std::string failure =
    "Failed to install https://example.test/app/App.appinstaller due to "
    "error: ";

ScriptedDeployment failed(uint32_t extended_code, std::string text = {}) {
  return ScriptedDeployment::failure(extended_code, std::move(text));
}

class DoInstall : public ::testing::Test {
 protected:
  DoInstall() {
    fake.services().packages = &packages;
    fake.services().http = &http;
    burned_in_settings.site_base_url = "https://example.test/app/";
    burned_in_settings.appinstaller_file_name = "App.appinstaller";
    burned_in_settings.certificate_file_name = "App.cer";
    http.serve("https://example.test/app/App.cer", "certificate bytes");
    create_progress_window();
  }

  // How do_install ended: "installed", "not installed", "elevated", or as testing::ending_of
  // tells.
  std::string run(std::vector<ScriptedDeployment> script) {
    for (auto& outcome : script) packages.additions.push_back(std::move(outcome));
    InstallOutcome outcome = InstallOutcome::not_installed;
    const std::string ending = testing::ending_of([&] { outcome = do_install(); });
    if (ending != "returned") return ending;
    switch (outcome) {
      case InstallOutcome::installed:
        return "installed";
      case InstallOutcome::handed_to_elevated_copy:
        return "elevated";
      case InstallOutcome::not_installed:
        break;
    }
    return "not installed";
  }

  // How often each line was logged.
  int count(const std::string& line) const {
    int found = 0;
    for (const auto& each : fake.debug.lines()) found += each == line ? 1 : 0;
    return found;
  }
  std::vector<std::string> attempt_lines() const {
    std::vector<std::string> found;
    for (const auto& line : fake.debug.lines()) {
      if (line.ends_with(" attempts remaining.\n\n")) found.push_back(line.substr(0, 1));
    }
    return found;
  }

  testing::ScopedFakePlatform fake;
  testing::FakePackageManager packages;
  testing::FakeHttp http;
};

TEST_F(DoInstall, ASuccessTakesOneAttemptAndLogsEachStep) {
  EXPECT_EQ(run({ScriptedDeployment::success()}), "installed");
  EXPECT_EQ(attempt_lines(), std::vector<std::string>{"5"});
  ASSERT_EQ(packages.add_calls.size(), 1u);
  EXPECT_EQ(packages.add_calls[0].uri, "https://example.test/app/App.appinstaller");
  EXPECT_EQ(packages.add_calls[0].options, 64u);
  EXPECT_EQ(packages.add_calls[0].volume, packages.volume);
  EXPECT_EQ(count("URI: https://example.test/app/App.appinstaller\n"), 1);
  EXPECT_EQ(count("Waiting ...\n"), 1);
  EXPECT_EQ(count("Result: op.status: 1 op.error: 0 code=0, IsRegistered=1\n"), 1);
  EXPECT_FALSE(has_current_operation());
  EXPECT_TRUE(fake.system.sleeps.empty());
}

TEST_F(DoInstall, ProgressSwitchesTheWindowOnceEachAttempt) {
  std::vector<platform::WindowView> seen;
  auto record = [&](size_t) { seen.push_back(progress_window_view()); };
  ScriptedDeployment first = failed(busy);
  first.progress = {{DeploymentProgressState::queued, 0},
                    {DeploymentProgressState::processing, 10}};
  first.after_report = record;
  ScriptedDeployment second = ScriptedDeployment::success();
  second.progress = {{DeploymentProgressState::queued, 0},
                     {DeploymentProgressState::processing, 70},
                     {DeploymentProgressState::completed, 100}};
  second.after_report = record;
  bool registered_while_waiting = false;
  second.while_waiting = [&] { registered_while_waiting = has_current_operation(); };

  EXPECT_EQ(run({first, second}), "installed");
  ASSERT_EQ(seen.size(), 5u);
  // Before Processing the bar runs a marquee and Cancel cannot be pressed; from then on the bar
  // follows the percentage under the download's title.
  for (const size_t index : {0u, 2u}) {
    EXPECT_TRUE(seen[index].marquee && !seen[index].cancel_enabled);
    EXPECT_EQ(seen[index].title, "Installing, please wait");
  }
  for (const size_t index : {1u, 3u, 4u}) {
    EXPECT_TRUE(!seen[index].marquee && seen[index].cancel_enabled);
    EXPECT_EQ(seen[index].title, "Downloading, please wait");
  }
  EXPECT_EQ(seen[1].position, 10u);
  EXPECT_EQ(seen[4].position, 100u);
  EXPECT_TRUE(registered_while_waiting);
  EXPECT_FALSE(has_current_operation());
}

TEST_F(DoInstall, ABusyStoreGetsFiveAttemptsAndFourPauses) {
  EXPECT_EQ(run({failed(busy), failed(busy), failed(busy), failed(busy), failed(busy, "busy")}),
            "exit 1");
  EXPECT_EQ(attempt_lines(), (std::vector<std::string>{"5", "4", "3", "2", "1"}));
  EXPECT_EQ(packages.volume_lookups, 5);
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>(4, 1000));
  EXPECT_EQ(count("SQLITE busy, retrying.\n"), 4);
  EXPECT_EQ(count("Result: op.status: 3 op.error: -2018573819 code=-2018573819, IsRegistered=0\n"),
            5);
  EXPECT_EQ(fake.clipboard.text, failure + "busy");
}

TEST_F(DoInstall, AnUntrustedSignerTakesFromTheSameBudget) {
  EXPECT_EQ(run({failed(busy), failed(busy), failed(platform::hresult::untrusted_root),
                 failed(busy), failed(busy, "still busy")}),
            "exit 1");
  EXPECT_EQ(attempt_lines(), (std::vector<std::string>{"5", "4", "3", "2", "1"}));
  EXPECT_EQ(fake.system.sleeps, (std::vector<uint32_t>{1000, 1000, 2000, 1000}));
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].file, "powershell");
  EXPECT_EQ(http.requests, std::vector<std::string>{"https://example.test/app/App.cer"});
  EXPECT_EQ(fake.clipboard.text, failure + "still busy");
}

TEST_F(DoInstall, EachOutcomeEndsAsItsRowSays) {
  ScriptedDeployment unregistered = ScriptedDeployment::success();
  unregistered.is_registered = false;
  unregistered.error_text = "not registered";
  const std::string range_message =
      "The web server doesn't support HTTP range requests. Please see "
      "https://docs.trevalon.dev/redir/http-range-requests to learn more.";
  const struct {
    std::vector<ScriptedDeployment> script;
    std::string ends;
    std::string clipboard;
    size_t imports = 0;
  } rows[] = {
      // A downgrade is recognised by the low sixteen bits alone, and ignored.
      {{failed(0x80073D06u)}, "installed", ""},
      {{failed(0xFFFF3D06u)}, "installed", ""},
      {{failed(0x80073D07u, "other")}, "exit 1", failure + "other"},
      // An untrusted root is also recognised by the exact prefix of the error text.
      {{failed(0x80073CF3u, "error 0x800B0109: x"), ScriptedDeployment::success()},
       "installed",
       "",
       1},
      {{failed(0x80073CF3u, "Error 0x800B0109: x")}, "exit 1", failure + "Error 0x800B0109: x"},
      {{failed(0x80073CF3u, "error 0x800B010")}, "exit 1", failure + "error 0x800B010"},
      {{failed(platform::hresult::insufficient_range_support, "x")}, "exit 1", range_message},
      {{unregistered}, "exit 1", failure + "not registered"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.clipboard + " " + row.ends);
    fake.clipboard.text.reset();
    fake.shell.calls.clear();
    EXPECT_EQ(run(row.script), row.ends);
    EXPECT_EQ(fake.clipboard.text.value_or(""), row.clipboard);
    EXPECT_EQ(fake.shell.calls.size(), row.imports);
  }

  // Without a certificate to import, an untrusted root fails at once.
  burned_in_settings.certificate_file_name.clear();
  http.requests.clear();
  EXPECT_EQ(run({failed(platform::hresult::untrusted_root, "untrusted")}), "exit 1");
  EXPECT_EQ(fake.clipboard.text, failure + "untrusted");
  EXPECT_TRUE(fake.shell.calls.empty() && http.requests.empty());
}

TEST_F(DoInstall, AccessDeniedRestartsElevatedInTheSameModeOrTellsANonAdministrator) {
  for (const char mode : {'0', '1', '4'}) {
    SCOPED_TRACE(mode);
    fake.shell.calls.clear();
    update_mode = mode;
    forwarded_args = "--open \"my file.txt\"";
    // The refusal decides even when the extended code names a retryable cause.
    ScriptedDeployment denied = failed(busy);
    denied.error_code = platform::hresult::access_denied;
    EXPECT_EQ(run({denied}), "elevated");
    ASSERT_EQ(fake.shell.calls.size(), 1u);
    EXPECT_EQ(fake.shell.calls[0].verb, "runas");
    EXPECT_EQ(fake.shell.calls[0].file, fake.system.module_file_name_value);
    EXPECT_EQ(fake.shell.calls[0].parameters, with_update_mode_argument(mode, forwarded_args));
    EXPECT_FALSE(fake.window.last_view().visible);
    EXPECT_EQ(fake.window.cursors.back(), platform::Cursor::arrow);
  }
  EXPECT_EQ(count("Result: op.status: 3 op.error: -2147024891 code=-2018573819, IsRegistered=0\n"),
            3);
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>(3, 500));

  fake.system.is_admin = false;
  EXPECT_EQ(run({failed(platform::hresult::access_denied)}), "exit 1");
  EXPECT_EQ(fake.clipboard.text,
            "You do not have permission to install this package. Talk to your system "
            "administrator.");
}

TEST_F(DoInstall, CancelDuringTheDeploymentCancelsIt) {
  ScriptedDeployment running = ScriptedDeployment::success();
  running.progress = {{DeploymentProgressState::processing, 5}};
  running.while_waiting = [] { on_window_event(platform::WindowEvent::cancel); };
  EXPECT_EQ(run({running}), "cancelled");
  EXPECT_EQ(packages.operations.at(0)->cancel_calls(), 1);
  EXPECT_FALSE(has_current_operation());
}

// During the busy pause nothing can be cancelled: the next attempt does not start.
TEST_F(DoInstall, CancelDuringTheBusyPauseEndsAtTheNextAttempt) {
  fake.system.on_sleep = [](uint32_t) {
    EXPECT_TRUE(progress_window_view().cancel_enabled);
    EXPECT_EQ(progress_window_view().title, "System is busy, retrying");
    on_window_event(platform::WindowEvent::cancel);
  };
  EXPECT_EQ(run({failed(busy), ScriptedDeployment::success()}), "cancelled");
  EXPECT_EQ(packages.add_calls.size(), 1u);
}

}  // namespace
}  // namespace pellora
