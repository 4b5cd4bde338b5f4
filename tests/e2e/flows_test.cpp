// The installer's flows end to end: burned copies of pellora against a site served on loopback,
// installing into a fresh stand-in root per scenario, with standin-probe as the application (it
// records its arguments, identity and environment) and, once, the demo application on a JVM
// through the launcher. The pauses are the real ones: 500 ms per launch, 1000 ms when the store
// is busy, 2000 ms after a certificate import.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "installer/platform/backend.h"
#include "installer/platform/deployment.h"
#include "standin/publisher_id.h"
#include "tests/support/e2e_site.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pellora::testing::error_box_intro;
using pellora::testing::ProgramOutcome;
using pellora::testing::read_file;
using pellora::testing::RunningProgram;
using pellora::testing::SiteTest;
using pellora::testing::wait_until;

const std::string bin_dir = TREVALON_BIN_DIR;
const std::string jar_dir = bin_dir + "/../jars";
constexpr char name[] = "Trevalon.Flows";
constexpr char publisher[] = "CN=Trevalon Flows, O=Quelmarin Labs, C=FR";
constexpr char scheme[] = "trevalon-flows";
constexpr char launch_uri[] = "trevalon-flows:open";
constexpr char certificate[] = "Flows.cer";
const std::string package_file = std::string(name) + ".msix";

size_t count(const std::string& text, const std::string& what) {
  size_t found = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
  return found;
}

struct SiteSettings {
  bool aggressive_updates = false;
  bool with_certificate = true;
  std::string app_exe = "bin/app";
};

class Flows : public SiteTest {
 protected:
  Flows() : SiteTest({name, publisher, scheme, launch_uri, certificate}, 30s) {}

  // A copy of pellora burned with the settings of `version` of this test's site.
  void burn_installer(const fs::path& out, const std::string& version) const {
    std::vector<std::string> command = burn_command(out, version);
    command.insert(command.end(), {"--app-exe", settings_.app_exe});
    if (settings_.with_certificate) {
      command.push_back("--certificate");
      command.push_back(certificate);
    }
    if (settings_.aggressive_updates) command.push_back("--aggressive-updates");
    run_tool(command);
  }

  // The downloaded installer, burned for version 1.0.0.0.
  fs::path downloaded_installer() const {
    const fs::path installer = sandbox_.path("Flows Setup.exe");
    if (!fs::exists(installer)) burn_installer(installer, "1.0.0.0");
    return installer;
  }

  // Publishes `version` on the site: the packaged installer as updatecheck.exe (the entry
  // executable, opened by the launch URI) and the probe as the application.
  void publish(const std::string& version, std::vector<std::string> files = {}) const {
    const fs::path stage = sandbox_.path("stage-" + version);
    fs::create_directories(stage);
    burn_installer(stage / "updatecheck.exe", version);
    strip(stage / "updatecheck.exe");
    std::vector<std::string> command = make_site_command(version, stage / "updatecheck.exe");
    if (files.empty()) {
      fs::copy_file(bin_dir + "/standin-probe", stage / "app");
      strip(stage / "app");
      files = {"--file", (stage / "app").string() + "=bin/app"};
    }
    command.insert(command.end(), files.begin(), files.end());
    run_tool(command);
  }

  void install_from_site() const {
    trust_site_certificate();
    SiteTest::install_from_site();
  }

  fs::path packaged_installer(const std::string& version) const {
    return installed(version) / "updatecheck.exe";
  }

  SiteSettings settings_;
};

// Holds the store's lock as another deployment would.
class StoreLock {
 public:
  explicit StoreLock(const fs::path& root) {
    fd_ = ::open((root / "store.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) release();
  }
  ~StoreLock() { release(); }
  bool held() const { return fd_ >= 0; }
  void release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

TEST_F(Flows, FirstInstallTrustsTheCertificateOnceAndForwardsTheArguments) {
  publish("1.0.0.0");
  const std::vector<std::string> arguments = {"two words", "--flag", "a \"quoted\" word", ""};
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(), arguments, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_NE(outcome.err.find("Initial installation.\n"), std::string::npos);
  // The first attempt meets an untrusted signer; one import through PowerShell fixes it.
  EXPECT_EQ(count(outcome.err, "Installing certificate into LocalMachine/TrustedPeople.\n"), 1u)
      << outcome.err;
  EXPECT_NE(outcome.err.find("4 attempts remaining.\n"), std::string::npos);
  EXPECT_EQ(outcome.err.find("3 attempts remaining.\n"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox_.root() / "trust"), {}), 1);
  EXPECT_TRUE(fs::exists(sandbox_.tmp() / certificate));

  const auto app = wait_for_app();
  ASSERT_TRUE(app) << chain_err();
  EXPECT_EQ(app->values("arg"), arguments);
  EXPECT_EQ(app->value("installed_path"), installed("1.0.0.0").string());
  EXPECT_EQ(app->value("elevated"), "");
  // Opened through the launch URI: the packaged copy started in the normal mode and passed
  // the arguments on without any update-mode argument.
  EXPECT_NE(chain_err().find("App launched.\n"), std::string::npos) << chain_err();
  EXPECT_EQ(chain_err().find("TREVALON_INTERNAL_UPDATE_MODE"), std::string::npos);
}

TEST_F(Flows, PackagedStartWithoutAggressiveUpdatesStartsTheApplicationFirst) {
  publish("1.0.0.0");
  install_from_site();
  publish("1.1.0.0");  // a newer version does not matter here
  const ProgramOutcome outcome =
      sandbox_.run(packaged_installer("1.0.0.0").string(), {"x y"}, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  const size_t launched = outcome.err.find("Not in aggressive mode, launching the app\n");
  const size_t started = outcome.err.find("Full command: ");
  const size_t metadata = outcome.err.find("Downloading metadata...");
  ASSERT_NE(launched, std::string::npos) << outcome.err;
  ASSERT_NE(metadata, std::string::npos) << outcome.err;
  EXPECT_LT(launched, started);
  EXPECT_LT(started, metadata);
  EXPECT_NE(outcome.err.find("app.windows.manifests.version-quad=1.1.0.0"), std::string::npos);
  EXPECT_EQ(outcome.err.find("updater.exe"), std::string::npos) << "no update in this process";
  const auto app = wait_for_app();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->values("arg"), std::vector<std::string>{"x y"});
  EXPECT_EQ(app->value("family"), family_name()) << "the application has the package's identity";
}

TEST_F(Flows, AggressiveStartWithTheSameVersionStartsTheApplication) {
  settings_.aggressive_updates = true;
  publish("1.0.0.0");
  install_from_site();
  const ProgramOutcome outcome =
      sandbox_.run(packaged_installer("1.0.0.0").string(), {"a"}, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_NE(outcome.err.find("Metadata version: 1.0.0.0"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.find("Not in aggressive mode"), std::string::npos);
  EXPECT_EQ(outcome.err.find("updater.exe"), std::string::npos);
  const auto app = wait_for_app();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->value("installed_path"), installed("1.0.0.0").string());
  EXPECT_EQ(app->values("arg"), std::vector<std::string>{"a"});
}

TEST_F(Flows, AggressiveStartWithANewerVersionUpdatesAndStartsTheNewVersion) {
  settings_.aggressive_updates = true;
  publish("1.0.0.0");
  install_from_site();
  publish("1.1.0.0");
  const ProgramOutcome outcome =
      sandbox_.run(packaged_installer("1.0.0.0").string(), {"--keep", "me"}, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_NE(outcome.err.find("Metadata version: 1.1.0.0"), std::string::npos) << outcome.err;

  // packaged copy -> temporary updater (forced update) -> launch URI (start_app) -> application
  const auto app = wait_for_app();
  ASSERT_TRUE(app) << chain_err();
  EXPECT_EQ(app->value("installed_path"), installed("1.1.0.0").string());
  EXPECT_EQ(app->values("arg"), (std::vector<std::string>{"--keep", "me"}));
  const std::string chain = chain_err();
  const size_t forcing = chain.find("Forcing update.\n");
  const size_t start_app = chain.find("Already checked for update, just start the app.\n");
  ASSERT_NE(forcing, std::string::npos) << chain;
  ASSERT_NE(start_app, std::string::npos) << chain;
  EXPECT_LT(forcing, start_app);
  EXPECT_TRUE(fs::exists(sandbox_.tmp() / full_name("1.0.0.0") / "updater.exe"))
      << "the update ran from a temporary copy";
  EXPECT_FALSE(fs::exists(installed("1.0.0.0"))) << "the old version was replaced";

  // start_app on its own: the application starts at once and the window never shows.
  ASSERT_TRUE(wait_for_chain_to_end());
  fs::remove(report_path());
  const ProgramOutcome start =
      sandbox_.run(packaged_installer("1.1.0.0").string(), {"TREVALON_INTERNAL_UPDATE_MODE=2", "b"},
                   20s, environment());
  ASSERT_EQ(start.code(), 0) << start.err;
  EXPECT_EQ(start.err.find("Timer expired"), std::string::npos) << start.err;
  EXPECT_EQ(start.err.find("please wait"), std::string::npos) << start.err;
  EXPECT_EQ(start.err.find("Downloading metadata"), std::string::npos) << start.err;
  const auto again = wait_for_app();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->values("arg"), std::vector<std::string>{"b"});
}

TEST_F(Flows, UpdateCheckWithTheSiteDownStartsTheApplication) {
  publish("1.0.0.0");
  install_from_site();
  server_.reset();
  const ProgramOutcome outcome = sandbox_.run(packaged_installer("1.0.0.0").string(),
                                              {"--update-check", "p", "q"}, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_NE(outcome.err.find("Just check for updates.\n"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("Failed to download "), std::string::npos) << outcome.err;
  const auto app = wait_for_app();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->values("arg"), (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(app->value("installed_path"), installed("1.0.0.0").string());
}

TEST_F(Flows, ALowerVersionOnTheSiteIsIgnored) {
  settings_.aggressive_updates = true;
  publish("1.1.0.0");
  install_from_site();
  publish("1.0.0.0");

  // Any other version counts as an update; the store refuses the downgrade, which the forced
  // update ignores before it starts the installed application.
  const ProgramOutcome outcome =
      sandbox_.run(packaged_installer("1.1.0.0").string(), {"c"}, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  const auto app = wait_for_app();
  ASSERT_TRUE(app) << chain_err();
  EXPECT_NE(chain_err().find("Ignoring version downgrade, launching the app.\n"), std::string::npos)
      << chain_err();
  EXPECT_EQ(app->value("installed_path"), installed("1.1.0.0").string());
  EXPECT_EQ(app->values("arg"), std::vector<std::string>{"c"});
  EXPECT_FALSE(fs::exists(installed("1.0.0.0")));
}

TEST_F(Flows, AStoreBusyForTheWholeBudgetEndsInTheFailureBox) {
  publish("1.0.0.0");
  trust_site_certificate();
  StoreLock lock(sandbox_.root());
  ASSERT_TRUE(lock.held());
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(), {}, 60s, environment());
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  for (const char* line :
       {"5 attempts remaining.\n", "4 attempts remaining.\n", "3 attempts remaining.\n",
        "2 attempts remaining.\n", "1 attempts remaining.\n"}) {
    EXPECT_EQ(count(outcome.err, line), 1u) << line;
  }
  EXPECT_EQ(count(outcome.err, "SQLITE busy, retrying.\n"), 4u);
  const std::string failure = "Failed to install " + app_installer_url() + " due to error: ";
  EXPECT_EQ(clipboard().rfind(failure, 0), 0u) << clipboard();
  EXPECT_NE(outcome.err.find(error_box_intro + failure), std::string::npos) << outcome.err;
  EXPECT_FALSE(fs::exists(report_path()));
}

TEST_F(Flows, AStoreBusyForTwoAttemptsThenInstalls) {
  publish("1.0.0.0");
  trust_site_certificate();
  auto lock = std::make_unique<StoreLock>(sandbox_.root());
  ASSERT_TRUE(lock->held());
  RunningProgram installer = sandbox_.start(downloaded_installer().string(), {}, environment());
  // Let go during the second busy pause, so the third attempt finds the store free.
  const bool saw_two =
      wait_until([&] { return count(installer.err_so_far(), "SQLITE busy, retrying.\n") >= 2; });
  lock.reset();
  const ProgramOutcome outcome = installer.wait(60s);
  ASSERT_TRUE(saw_two) << outcome.err;
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_EQ(count(outcome.err, "SQLITE busy, retrying.\n"), 2u) << outcome.err;
  EXPECT_NE(outcome.err.find("3 attempts remaining.\n"), std::string::npos);
  EXPECT_EQ(outcome.err.find("2 attempts remaining.\n"), std::string::npos);
  ASSERT_TRUE(wait_for_app()) << chain_err();
}

TEST_F(Flows, AnUntrustedPackageWithoutACertificateEndsInTheFailureBox) {
  settings_.with_certificate = false;
  publish("1.0.0.0");
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(), {}, 60s, environment());
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_EQ(outcome.err.find("Downloading certificate"), std::string::npos) << outcome.err;
  EXPECT_EQ(count(outcome.err, "attempts remaining."), 1u);
  const std::string failure =
      "Failed to install " + app_installer_url() + " due to error: error 0x800B0109";
  EXPECT_EQ(clipboard().rfind(failure, 0), 0u) << clipboard();
  EXPECT_FALSE(fs::exists(sandbox_.root() / "packages" / full_name("1.0.0.0")));
}

TEST_F(Flows, APackageThatIsNeverTrustedImportsFourTimesThenFails) {
  publish("1.0.0.0");
  // The site's certificate names another subject than the package's Publisher.
  run_tool({bin_dir + "/make-site", "--out", sandbox_.path("other").string(), "--base-url",
            base_url(), "--name", "Other", "--publisher", "CN=Someone Else", "--version", "1.0.0.0",
            "--certificate", certificate});
  fs::copy_file(sandbox_.path("other") / certificate, site_ / certificate,
                fs::copy_options::overwrite_existing);
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(), {}, 90s, environment());
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_EQ(count(outcome.err, "Installing certificate into LocalMachine/TrustedPeople.\n"), 4u)
      << outcome.err;
  EXPECT_EQ(count(outcome.err, "attempts remaining."), 5u);
  EXPECT_EQ(clipboard().rfind(
                "Failed to install " + app_installer_url() + " due to error: error 0x800B0109", 0),
            0u)
      << clipboard();
}

TEST_F(Flows, AccessDeniedWithElevationRefusedEndsAsCancelled) {
  if (!pellora::platform::backend_services().system->current_user_is_admin()) {
    GTEST_SKIP() << "the elevated restart is offered to administrators only";
  }
  publish("1.0.0.0");
  trust_site_certificate();
  fs::create_directories(sandbox_.root() / "policy");
  std::ofstream(sandbox_.root() / "policy" / "require-admin").put('\n');
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(), {"arg"}, 20s,
                   environment({{"TREVALON_PLATFORM_ELEVATION", "refuse"}}));
  EXPECT_EQ(outcome.code(), 5) << outcome.err;
  EXPECT_NE(outcome.err.find("op.error: -2147024891"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("User cancelled the install, exiting.\n"), std::string::npos);
  EXPECT_EQ(outcome.err.find(error_box_intro), std::string::npos) << "no error box";
  EXPECT_FALSE(fs::exists(sandbox_.root() / "clipboard.txt"));

  // Elevation granted: the elevated copy installs and starts the application.
  ASSERT_TRUE(wait_for_chain_to_end());
  const ProgramOutcome elevated =
      sandbox_.run(downloaded_installer().string(), {"arg"}, 60s, environment());
  EXPECT_EQ(elevated.code(), 0) << elevated.err;
  const auto app = wait_for_app();
  ASSERT_TRUE(app) << chain_err();
  EXPECT_EQ(app->values("arg"), std::vector<std::string>{"arg"});
  EXPECT_EQ(app->value("elevated"), "1") << "started by the elevated instance";
}

TEST_F(Flows, CancelDuringASlowPackageDownloadExitsWithFive) {
  publish("1.0.0.0");
  trust_site_certificate();
  server_->set_faults({"/" + package_file + "=drip:1024:50"});
  RunningProgram installer = sandbox_.start(downloaded_installer().string(), {}, environment());
  // The window shows after 2 s; by then the download reports progress and Cancel is enabled.
  const bool downloading = wait_until(
      [&] { return installer.err_so_far().find("Downloading, please wait") != std::string::npos; });
  ::kill(installer.pid(), SIGINT);
  const ProgramOutcome outcome = installer.wait(60s);
  ASSERT_TRUE(downloading) << outcome.err;
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.code(), 5) << outcome.err;
  EXPECT_NE(outcome.err.find("User cancelled the install, exiting.\n"), std::string::npos);
  EXPECT_EQ(outcome.err.find(error_box_intro), std::string::npos);
  EXPECT_FALSE(fs::exists(installed("1.0.0.0")));
}

TEST_F(Flows, AServerWithoutRangeRequestsEndsInTheRangeMessage) {
  publish("1.0.0.0");
  trust_site_certificate();
  server_->set_faults({"/" + package_file + "=no-ranges"});
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(), {}, 60s, environment());
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_EQ(clipboard(),
            "The web server doesn't support HTTP range requests. Please see "
            "https://docs.trevalon.dev/redir/http-range-requests to learn more.");
}

TEST_F(Flows, RemovalTakesThePackageAwayAndReportsAFailure) {
  publish("1.0.0.0");
  install_from_site();
  ASSERT_TRUE(fs::exists(sandbox_.root() / "protocols" / scheme));
  const fs::path driver = sandbox_.path("remover");
  run_tool({bin_dir + "/burn", "installer", bin_dir + "/uninstall-driver", driver.string(),
            "--site-base-url", base_url(), "--appinstaller", "x", "--launch-uri", launch_uri,
            "--package-full-name", full_name("1.0.0.0"), "--app-exe", "bin/app"});
  ProgramOutcome outcome = sandbox_.run(driver.string(), {}, 60s, environment());
  EXPECT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_FALSE(fs::exists(installed("1.0.0.0")));
  EXPECT_FALSE(fs::exists(sandbox_.root() / "registrations" / full_name("1.0.0.0")));
  EXPECT_FALSE(fs::exists(sandbox_.root() / "protocols" / scheme));
  EXPECT_FALSE(fs::exists(sandbox_.root() / "data" / family_name()));

  // Nothing left to remove: the platform's text in the error box.
  outcome = sandbox_.run(driver.string(), {}, 60s, environment());
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_EQ(clipboard().rfind("Failed to uninstall due to error: error 0x80073CF1", 0), 0u)
      << clipboard();
}

TEST_F(Flows, TheDemoApplicationRunsOnTheJvmAfterAFirstInstall) {
  settings_.app_exe = "bin/launcher";
  const fs::path app = sandbox_.path("demo-app");
  fs::create_directories(app / "bin");
  fs::create_directories(app / "app");
  for (const char* jar : {"trevalon-demo.jar", "trevalon-launcher.jar"}) {
    fs::copy_file(fs::path(jar_dir) / jar, app / "app" / jar);
  }
  run_tool({bin_dir + "/burn", "launcher", bin_dir + "/launcher", (app / "bin/launcher").string(),
            "--main-class", "quelmarin.trevalon.demo.DemoApp", "--jvm-option",
            "-Dtrevalon.demo.version=1.0.0.0", "--jvm-option",
            "-Djava.class.path=&&trevalon-demo.jar:&&trevalon-launcher.jar"});
  publish("1.0.0.0", {"--folder", (app / "bin").string() + "=bin", "--folder",
                      (app / "app").string() + "=app"});
  trust_site_certificate();
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(), {"hello", "big world"}, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  const fs::path counter =
      sandbox_.root() / "data" / family_name() / "LocalCache/Local/TrevalonDemo/start-count.txt";
  // The application's output goes to the standard output the chain inherited.
  const bool printed = wait_until([&] {
    return read_file(sandbox_.path("stdout.txt")).find("Start number: 1\n") != std::string::npos;
  });
  const std::string out = read_file(sandbox_.path("stdout.txt"));
  ASSERT_TRUE(printed) << out << chain_err();
  EXPECT_NE(out.find("Trevalon demo 1.0.0.0\nArguments: 2\n  hello\n  big world\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(read_file(counter), "1\n");
}

// A double-click while an update is due: every start either runs the application or is ended
// by the update that replaces its package; none ends in an error box.
TEST_F(Flows, StartsAMomentApartDuringAnUpdateRunTheApplicationOrEndWithTheOldPackage) {
  settings_.aggressive_updates = true;
  publish("1.0.0.0");
  install_from_site();
  publish("1.1.0.0");
  for (int start = 0; start < 6; ++start) {
    const ProgramOutcome opened = sandbox_.run(
        bin_dir + "/open-uri", {launch_uri, "start " + std::to_string(start)}, 10s, environment());
    ASSERT_EQ(opened.code(), 0) << opened.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + 20 * start));
  }
  ASSERT_TRUE(wait_for_app()) << chain_err();
  ASSERT_TRUE(wait_for_chain_to_end());
  EXPECT_FALSE(fs::exists(sandbox_.root() / "clipboard.txt")) << "an error box: " << clipboard();
  EXPECT_TRUE(fs::exists(registration("1.1.0.0")));
  EXPECT_FALSE(fs::exists(registration("1.0.0.0")));
}

}  // namespace
