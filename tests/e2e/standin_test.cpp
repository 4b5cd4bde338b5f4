// The POSIX stand-in's deployment service end to end: sites built by make-site, served on
// loopback, installed, upgraded and removed, with the codes each failure carries. Programs
// started from packages, launch URIs and elevation are played by the installer's flows.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>

#include "standin/command_line_rules.h"
#include "standin/deployment.h"
#include "tests/support/e2e_site.h"

namespace standin {
namespace {

using namespace pellora::platform;
namespace testing = pellora::testing;
namespace fs = std::filesystem;
using testing::read_file;

const std::string bin_dir = TREVALON_BIN_DIR;

struct Outcome {
  AsyncStatus status;
  uint32_t error_code;
  DeploymentResult result;
  std::vector<DeploymentProgress> progress;

  uint32_t extended() const { return static_cast<uint32_t>(result.extended_error_code); }
  // An error with this code as the extended one and at the start of the text.
  bool failed_with(uint32_t code) const {
    char text[32];
    std::snprintf(text, sizeof text, "error 0x%08X: ", code);
    return status == AsyncStatus::error && extended() == code && !result.is_registered &&
           result.error_text.starts_with(text);
  }
};

class StandinTest : public testing::SiteTest {
 protected:
  StandinTest() : SiteTest("E2E", std::chrono::seconds(10)) {}

  void SetUp() override {
    SiteTest::SetUp();
    // Incompressible, and larger than one range chunk so the download takes several.
    std::mt19937 random(7);
    std::string payload(700 * 1024, '\0');
    for (char& c : payload) c = static_cast<char>(random());
    std::ofstream(sandbox_.path("payload.bin"), std::ios::binary) << payload;
  }
  void TearDown() override {
    unsetenv("TREVALON_PLATFORM_ELEVATED");
    SiteTest::TearDown();
  }

  // Publishes `version` with the probe as bin/probe and a payload.
  void publish_probe(const std::string& version, std::vector<std::string> extra = {}) const {
    extra.insert(extra.begin(), {"--executable", "bin/probe", "--protocol", "trevalon-e2e",
                                 "--file", bin_dir + "/standin-probe=bin/probe", "--file",
                                 sandbox_.path("payload.bin").string() + "=data/pay load.bin"});
    make_site(version, extra);
  }

  // Waits for `operation`, keeping every progress report.
  static Outcome finish(const std::shared_ptr<DeploymentOperation>& operation) {
    auto mutex = std::make_shared<std::mutex>();
    auto progress = std::make_shared<std::vector<DeploymentProgress>>();
    operation->set_progress_handler([mutex, progress](const DeploymentProgress& p) {
      std::lock_guard lock(*mutex);
      progress->push_back(p);
    });
    Outcome outcome{operation->wait(), operation->error_code(), operation->get_results(), {}};
    std::lock_guard lock(*mutex);
    outcome.progress = *progress;
    return outcome;
  }
  Outcome install() const {
    PackageManager* store = package_manager();
    return finish(store->add_package_by_app_installer_file(base_url() + "Trevalon.E2E.appinstaller",
                                                           add_option_force_target_app_shutdown,
                                                           store->get_default_package_volume()));
  }

  bool nothing_installed() const {
    auto empty = [](const std::string& folder) {
      return !fs::exists(folder) || fs::is_empty(folder);
    };
    return empty(root_ + "/packages") && empty(root_ + "/registrations") &&
           !fs::exists(root_ + "/staging") && !fs::exists(root_ + "/protocols/trevalon-e2e");
  }

  const std::string root_ = sandbox_.root().string();
  const std::string data_ = root_ + "/data/" + family_name();
};

TEST_F(StandinTest, InstallsInRangeChunksIntoThePackageFolderWithItsDataFolders) {
  publish_probe("1.0.0.0");
  const Outcome outcome = install();
  ASSERT_EQ(outcome.status, AsyncStatus::completed) << outcome.result.error_text;
  EXPECT_EQ(outcome.error_code, 0u);
  EXPECT_EQ(outcome.extended(), 0u);
  EXPECT_TRUE(outcome.result.is_registered);
  std::vector<uint32_t> processing;
  for (const DeploymentProgress& p : outcome.progress) {
    if (p.state == DeploymentProgressState::processing) processing.push_back(p.percentage);
  }
  EXPECT_GE(processing.size(), 3u);
  EXPECT_TRUE(std::is_sorted(processing.begin(), processing.end()));

  EXPECT_TRUE(fs::exists(installed("1.0.0.0") / "AppxManifest.xml"));
  EXPECT_EQ(read_file(installed("1.0.0.0") / "data/pay load.bin"),
            read_file(sandbox_.path("payload.bin")));
  EXPECT_FALSE(fs::exists(installed("1.0.0.0") / "[Content_Types].xml"));
  EXPECT_TRUE(fs::exists(root_ + "/registrations/" + full_name("1.0.0.0")));
  for (const char* data : {"LocalState", "RoamingState", "LocalCache"}) {
    EXPECT_TRUE(fs::is_directory(data_ + "/" + data)) << data;
  }
  EXPECT_FALSE(fs::exists(root_ + "/staging"));
}

TEST_F(StandinTest, EachRefusalCarriesItsCodeAndInstallsNothing) {
  publish_probe("1.0.0.0");
  {
    // Another deployment holds the store lock.
    const int fd = open((root_ + "/store.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_EQ(install().extended(), 0x87AF0205u);
    close(fd);
  }
  server_->set_faults({"/Trevalon.E2E.msix=no-ranges"});
  EXPECT_EQ(install().extended(), 0x80D05011u);
  EXPECT_TRUE(nothing_installed());
  server_->set_faults({});

  fs::create_directories(root_ + "/policy");
  std::ofstream(root_ + "/policy/require-admin");
  const Outcome denied = install();
  EXPECT_EQ(denied.status, AsyncStatus::error);
  EXPECT_EQ(denied.error_code, 0x80070005u);
  EXPECT_TRUE(nothing_installed());
  setenv("TREVALON_PLATFORM_ELEVATED", "1", 1);
  EXPECT_EQ(install().status, AsyncStatus::completed);
  unsetenv("TREVALON_PLATFORM_ELEVATED");

  fs::remove_all(root_ + "/policy");
  publish_probe("1.1.0.0");
  fs::remove_all(root_ + "/trust");
  EXPECT_TRUE(install().failed_with(0x800B0109u));
  EXPECT_FALSE(fs::exists(installed("1.1.0.0")));
  // PowerShell imports for an elevated process only.
  const std::string command = "Import-Certificate -FilePath '" + site_.string() +
                              "/E2E.cer' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";
  EXPECT_NE(sandbox_.run(bin_dir + "/powershell", split_command_line(command)).code(), 0);
  EXPECT_FALSE(fs::exists(root_ + "/trust"));
}

TEST_F(StandinTest, RemoveDeletesThePackageItsRegistrationProtocolAndData) {
  publish_probe("1.0.0.0");
  ASSERT_EQ(install().status, AsyncStatus::completed);
  const Outcome removed = finish(package_manager()->remove_package(full_name("1.0.0.0")));
  EXPECT_EQ(removed.status, AsyncStatus::completed) << removed.result.error_text;
  EXPECT_TRUE(nothing_installed());
  EXPECT_FALSE(fs::exists(data_));
  EXPECT_TRUE(
      finish(package_manager()->remove_package(full_name("1.0.0.0"))).failed_with(0x80073CF1u));
}

// Which entry names are refused is checked on package_entry_path; here that extraction heeds it,
// and that a manifest must match the .appinstaller file.
TEST_F(StandinTest, AnEscapingEntryOrAManifestThatDoesNotMatchIsRefused) {
  publish_probe("1.0.0.0", {"--raw-entry",
                            sandbox_.path("payload.bin").string() + "=a/..%2F..%2Fescaped.txt"});
  EXPECT_EQ(install().status, AsyncStatus::error);
  EXPECT_TRUE(nothing_installed());
  EXPECT_FALSE(fs::exists(root_ + "/escaped.txt"));

  publish_probe("1.0.0.0", {"--manifest-version", "1.0.0.1"});
  const Outcome outcome = install();
  EXPECT_EQ(outcome.status, AsyncStatus::error);
  EXPECT_NE(outcome.result.error_text.find("does not match"), std::string::npos);
  EXPECT_TRUE(nothing_installed());
}

// A process ended at any step of an upgrade's commit leaves a store that the next operation
// repairs: one registered version, no orphaned folder, staging or stray registration file, the
// protocol on the package, the family's data as it was. (The downgrade's refusal is shown by the
// Windows chains, on this same store.)
TEST_F(StandinTest, AnUpgradeEndedAtAnyStepOfItsCommitIsRepairedByTheNextOperation) {
  for (const char* step : {"renamed", "registered", "protocols", "unregistered-old"}) {
    SCOPED_TRACE(step);
    fs::remove_all(root_ + "/packages");
    fs::remove_all(root_ + "/registrations");
    publish_probe("1.0.0.0");
    ASSERT_EQ(install().status, AsyncStatus::completed);
    std::ofstream(data_ + "/LocalState/settings.txt") << step;
    publish_probe("1.1.0.0");
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("TREVALON_STANDIN_END_AT", step, 1);
      install();
      ::_exit(0);  // the step was never reached
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the installer was ended at its step";

    // And a registration's temporary file, as a kill between its write and its rename leaves.
    std::ofstream(root_ + "/registrations/" + full_name("1.1.0.0") + ".tmp4242") << "half";
    const Outcome next = install();  // the same version again
    ASSERT_EQ(next.status, AsyncStatus::completed) << next.result.error_text;
    std::vector<std::string> registered;
    for (const auto& entry : fs::directory_iterator(root_ + "/registrations")) {
      registered.push_back(entry.path().filename().string());
    }
    std::vector<std::string> folders;
    for (const auto& entry : fs::directory_iterator(root_ + "/packages")) {
      folders.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(registered, std::vector<std::string>{full_name("1.1.0.0")});
    EXPECT_EQ(folders, std::vector<std::string>{full_name("1.1.0.0")});
    EXPECT_FALSE(fs::exists(root_ + "/staging"));
    EXPECT_EQ(read_file(root_ + "/protocols/trevalon-e2e"), full_name("1.1.0.0") + "\nbin/probe\n");
    EXPECT_EQ(read_file(data_ + "/LocalState/settings.txt"), step) << "an upgrade keeps the data";
  }
}

}  // namespace
}  // namespace standin
