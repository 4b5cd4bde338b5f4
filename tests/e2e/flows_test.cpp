// The wiring of the installer's chains of processes: burned copies of pellora against a site on
// loopback, a fresh stand-in root each, standin-probe (or once the demo on a JVM) as the
// application. Run modes, budgets and texts are the flow's and the install's unit tests'.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/e2e_site.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pellora::testing::has;
using pellora::testing::ProgramOutcome;
using pellora::testing::read_file;
using pellora::testing::RunningProgram;
using pellora::testing::SiteTest;
using pellora::testing::wait_until;

const std::string bin_dir = TREVALON_BIN_DIR;

class Flows : public SiteTest {
 protected:
  Flows() : SiteTest("Flows", 30s) {}

  // The downloaded installer, burned for version 1.0.0.0.
  fs::path downloaded_installer() const {
    const fs::path installer = sandbox_.path("Flows Setup.exe");
    if (!fs::exists(installer)) burn_installer(installer, "1.0.0.0");
    return installer;
  }
};

TEST_F(Flows, CtrlCDuringASlowPackageDownloadExitsWithFive) {
  publish("1.0.0.0", {});
  server_->set_faults({"/Trevalon.Flows.msix=drip:1024:50"});
  RunningProgram installer = sandbox_.start(downloaded_installer().string(), {}, environment());
  // The window shows after 2 s; by then the download reports progress and Cancel is enabled.
  const bool downloading =
      wait_until([&] { return has(installer.err_so_far(), "Downloading, please wait"); });
  ::kill(installer.pid, SIGINT);
  const ProgramOutcome outcome = installer.wait(60s);
  ASSERT_TRUE(downloading) << outcome.err;
  EXPECT_EQ(outcome.code(), 5) << outcome.err;
  EXPECT_TRUE(has(outcome.err, "User cancelled the install, exiting.\n"));
  EXPECT_FALSE(fs::exists(installed("1.0.0.0")));
}

// The first install imports the certificate once for an untrusted signer; the launch URI then
// starts the demo on the JVM with the arguments as given, counting its starts in its data folder.
TEST_F(Flows, AFirstInstallImportsTheCertificateAndStartsTheDemoOnTheJvm) {
  app_exe_ = "bin/launcher";
  const fs::path app = sandbox_.path("demo-app");
  fs::create_directories(app / "bin");
  fs::create_directories(app / "app");
  for (const char* jar : {"trevalon-demo.jar", "trevalon-launcher.jar"}) {
    fs::copy_file(bin_dir + "/../jars/" + jar, app / "app" / jar);
  }
  run_tool({bin_dir + "/burn", "launcher", bin_dir + "/launcher", (app / "bin/launcher").string(),
            "--main-class", "quelmarin.trevalon.demo.DemoApp", "--jvm-option",
            "-Dtrevalon.demo.version=1.0.0.0", "--jvm-option",
            "-Djava.class.path=&&trevalon-demo.jar:&&trevalon-launcher.jar"});
  publish(
      "1.0.0.0", {},
      {"--folder", (app / "bin").string() + "=bin", "--folder", (app / "app").string() + "=app"});
  fs::remove_all(sandbox_.root() / "trust");
  const ProgramOutcome outcome =
      sandbox_.run(downloaded_installer().string(),
                   {"two words", "--flag", "a \"quoted\" word", ""}, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_TRUE(has(outcome.err, "Installing certificate into LocalMachine/TrustedPeople.\n"));
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox_.root() / "trust"), {}), 1);
  // The application's output goes to the standard output the chain inherited.
  const auto out = [&] { return read_file(sandbox_.path("stdout.txt")); };
  ASSERT_TRUE(wait_until([&] { return has(out(), "Start number: 1\n"); })) << out() << chain_err();
  EXPECT_TRUE(has(out(), "Arguments: 4\n  two words\n  --flag\n  a \"quoted\" word\n  \n"))
      << out();
  EXPECT_EQ(read_file(sandbox_.root() / "data" / family_name() /
                      "LocalCache/Local/TrevalonDemo/start-count.txt"),
            "1\n");
  EXPECT_TRUE(has(chain_err(), "App launched.\n")) << chain_err();
}

// packaged copy -> temporary updater (forced update) -> launch URI (start_app) -> application,
// started several times a moment apart while an update is due: every start runs the new version
// or is ended by the update that replaces its package; none ends in an error box.
TEST_F(Flows, StartsAMomentApartDuringAnUpdateRunTheApplicationOrEndWithTheOldPackage) {
  publish("1.0.0.0", {"--aggressive-updates"});
  install_from_site();
  publish("1.1.0.0", {"--aggressive-updates"});
  for (int start = 0; start < 6; ++start) {
    const ProgramOutcome opened =
        sandbox_.run(bin_dir + "/open-uri",
                     {"trevalon-flows:open", "start " + std::to_string(start)}, 10s, environment());
    ASSERT_EQ(opened.code(), 0) << opened.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + 20 * start));
  }
  const auto app = wait_for_app();
  ASSERT_TRUE(app) << chain_err();
  ASSERT_TRUE(wait_for_chain_to_end());
  EXPECT_EQ(app->value("installed_path"), installed("1.1.0.0").string());
  EXPECT_EQ(app->values("arg").size(), 2u);
  EXPECT_EQ(app->value("arg"), "start");
  EXPECT_FALSE(fs::exists(sandbox_.root() / "clipboard.txt")) << "an error box: " << clipboard();
  EXPECT_FALSE(fs::exists(installed("1.0.0.0")));
}

}  // namespace
