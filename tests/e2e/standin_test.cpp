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

#include "installer/platform/backend.h"
#include "standin/command_line_rules.h"
#include "standin/deployment.h"
#include "standin/publisher_id.h"
#include "tests/support/e2e_site.h"
#include "tests/support/scratch_folder.h"

namespace standin {
namespace {

using namespace pellora::platform;
namespace testing = pellora::testing;
namespace fs = std::filesystem;
using testing::read_file;

constexpr char publisher[] = "CN=Trevalon Test, O=Quelmarin Labs, L=Lyon, C=FR";
constexpr char name[] = "Trevalon.E2E";
const std::string bin_dir = TREVALON_BIN_DIR;

std::string full_name(const std::string& version) {
  return package_full_name(name, version, "arm64", "", publisher);
}

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

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TREVALON_PLATFORM_ROOT", root_.c_str(), 1);
    // Incompressible, and larger than one range chunk so the download takes several.
    std::mt19937 random(7);
    std::string payload(700 * 1024, '\0');
    for (char& c : payload) c = static_cast<char>(random());
    work_.write("payload.bin", payload);
    fs::create_directories(site_folder_);
    site_ = std::make_unique<testing::SiteServer>(bin_dir + "/site-server", site_folder_);
  }

  void TearDown() override {
    site_.reset();
    unsetenv("TREVALON_PLATFORM_ROOT");
    unsetenv("TREVALON_PLATFORM_ELEVATED");
  }

  // Publishes `version` with the probe as bin/probe and a payload, and trusts its certificate.
  void make_site(const std::string& version, std::vector<std::string> extra = {}) {
    std::vector<std::string> command = {bin_dir + "/make-site", "--out", site_folder_};
    command.insert(command.end(), {"--base-url", site_->url("/"), "--name", name});
    command.insert(command.end(), {"--publisher", publisher, "--version", version});
    command.insert(command.end(), {"--executable", "bin/probe", "--protocol", "trevalon-e2e"});
    command.insert(command.end(), {"--file", bin_dir + "/standin-probe=bin/probe", "--file",
                                   work_.path("payload.bin") + "=data/pay load.bin"});
    command.insert(command.end(), {"--certificate", "site.cer"});
    command.insert(command.end(), extra.begin(), extra.end());
    ASSERT_EQ(testing::run_and_wait(command), 0);
    fs::create_directories(root_ + "/trust");
    fs::copy_file(site_folder_ + "/site.cer", root_ + "/trust/site.cer",
                  fs::copy_options::overwrite_existing);
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
    return finish(store->add_package_by_app_installer_file(site_->url("/") + name + ".appinstaller",
                                                           add_option_force_target_app_shutdown,
                                                           store->get_default_package_volume()));
  }
  std::string installed(const std::string& version, const std::string& file = "") const {
    return root_ + "/packages/" + full_name(version) + file;
  }

  bool nothing_installed() const {
    auto empty = [](const std::string& folder) {
      return !fs::exists(folder) || fs::is_empty(folder);
    };
    return empty(root_ + "/packages") && empty(root_ + "/registrations") &&
           !fs::exists(root_ + "/staging") && !fs::exists(root_ + "/protocols/trevalon-e2e");
  }

  testing::ScratchFolder work_;
  const std::string root_ = work_.path("root");
  const std::string site_folder_ = work_.path("site");
  const std::string data_ = root_ + "/data/" + package_family_name(name, publisher);
  std::unique_ptr<testing::SiteServer> site_;
};

TEST_F(StandinTest, InstallsInRangeChunksIntoThePackageFolderWithItsDataFolders) {
  make_site("1.0.0.0");
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

  EXPECT_TRUE(fs::exists(installed("1.0.0.0", "/AppxManifest.xml")));
  EXPECT_EQ(read_file(installed("1.0.0.0", "/data/pay load.bin")), work_.read("payload.bin"));
  EXPECT_FALSE(fs::exists(installed("1.0.0.0", "/[Content_Types].xml")));
  EXPECT_TRUE(fs::exists(root_ + "/registrations/" + full_name("1.0.0.0")));
  for (const char* data : {"LocalState", "RoamingState", "LocalCache"}) {
    EXPECT_TRUE(fs::is_directory(data_ + "/" + data)) << data;
  }
  EXPECT_FALSE(fs::exists(root_ + "/staging"));
}

TEST_F(StandinTest, AnUpgradeReplacesTheOlderVersionKeepsTheDataAndRefusesADowngrade) {
  make_site("1.0.0.0");
  ASSERT_EQ(install().status, AsyncStatus::completed);
  std::ofstream(data_ + "/LocalState/settings.txt") << "kept";

  make_site("1.1.0.0");
  ASSERT_EQ(install().status, AsyncStatus::completed);
  EXPECT_FALSE(fs::exists(installed("1.0.0.0")));
  EXPECT_FALSE(fs::exists(root_ + "/registrations/" + full_name("1.0.0.0")));
  EXPECT_TRUE(fs::exists(installed("1.1.0.0", "/bin/probe")));
  EXPECT_EQ(read_file(data_ + "/LocalState/settings.txt"), "kept");
  EXPECT_EQ(read_file(root_ + "/protocols/trevalon-e2e"), full_name("1.1.0.0") + "\nbin/probe\n");
  const Outcome again = install();  // the same version again succeeds without change
  EXPECT_TRUE(again.status == AsyncStatus::completed && again.result.is_registered);

  make_site("1.0.5.0");
  const Outcome downgrade = install();
  EXPECT_TRUE(downgrade.failed_with(0x80073D06u)) << downgrade.result.error_text;
  EXPECT_EQ(downgrade.error_code, 0x80073D06u);
  EXPECT_TRUE(fs::exists(root_ + "/registrations/" + full_name("1.1.0.0")));
  EXPECT_FALSE(fs::exists(installed("1.0.5.0")));
}

TEST_F(StandinTest, EachRefusalCarriesItsCodeAndInstallsNothing) {
  make_site("1.0.0.0");
  {
    // Another deployment holds the store lock.
    const int fd = open((root_ + "/store.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_EQ(install().extended(), 0x87AF0205u);
    close(fd);
  }
  site_->set_faults({"/Trevalon.E2E.msix=no-ranges"});
  EXPECT_EQ(install().extended(), 0x80D05011u);
  EXPECT_TRUE(nothing_installed());
  site_->set_faults({});

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
  make_site("1.1.0.0");
  fs::remove_all(root_ + "/trust");
  EXPECT_TRUE(install().failed_with(0x800B0109u));
  EXPECT_FALSE(fs::exists(installed("1.1.0.0")));
  // PowerShell imports for an elevated process only (the installer's first install plays the
  // elevated import).
  const std::string command =
      "Import-Certificate -FilePath '" + site_folder_ +
      "/site.cer' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";
  std::vector<std::string> powershell = split_command_line(command);
  powershell.insert(powershell.begin(), bin_dir + "/powershell");
  EXPECT_NE(testing::run_and_wait(powershell), 0);
  EXPECT_FALSE(fs::exists(root_ + "/trust"));
}

TEST_F(StandinTest, RemoveDeletesThePackageItsRegistrationProtocolAndData) {
  make_site("1.0.0.0");
  ASSERT_EQ(install().status, AsyncStatus::completed);
  const Outcome removed = finish(package_manager()->remove_package(full_name("1.0.0.0")));
  EXPECT_EQ(removed.status, AsyncStatus::completed) << removed.result.error_text;
  EXPECT_TRUE(nothing_installed());
  EXPECT_FALSE(fs::exists(data_));
  EXPECT_LE(backend_services().shell->shell_execute("open", "trevalon-e2e:", "", sw_shownormal),
            32);
  EXPECT_EQ(get_last_error(), 1155u);
  EXPECT_TRUE(
      finish(package_manager()->remove_package(full_name("1.0.0.0"))).failed_with(0x80073CF1u));
}

// Which entry names are refused is checked on package_entry_path; here that extraction heeds it,
// and that a manifest must match the .appinstaller file.
TEST_F(StandinTest, AnEscapingEntryOrAManifestThatDoesNotMatchIsRefused) {
  make_site("1.0.0.0", {"--raw-entry", work_.path("payload.bin") + "=a/..%2F..%2Fescaped.txt"});
  EXPECT_EQ(install().status, AsyncStatus::error);
  EXPECT_TRUE(nothing_installed());
  EXPECT_FALSE(fs::exists(root_ + "/escaped.txt"));

  make_site("1.0.0.0", {"--manifest-version", "1.0.0.1"});
  const Outcome outcome = install();
  EXPECT_EQ(outcome.status, AsyncStatus::error);
  EXPECT_NE(outcome.result.error_text.find("does not match"), std::string::npos);
  EXPECT_TRUE(nothing_installed());
}

// A process ended at any step of an upgrade's commit (a killed installer, a closed window)
// leaves a store that the next operation repairs: one registered version, no orphaned folder,
// no staging left, the protocol on the registered package.
TEST_F(StandinTest, AnUpgradeEndedAtAnyStepOfItsCommitIsRepairedByTheNextOperation) {
  for (const char* step : {"renamed", "registered", "protocols", "unregistered-old"}) {
    SCOPED_TRACE(step);
    fs::remove_all(root_ + "/packages");
    fs::remove_all(root_ + "/registrations");
    make_site("1.0.0.0");
    ASSERT_EQ(install().status, AsyncStatus::completed);
    make_site("1.1.0.0");
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("TREVALON_STANDIN_END_AT", step, 1);
      install();
      ::_exit(0);  // the step was never reached
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the installer was ended at its step";

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
  }
}

}  // namespace
}  // namespace standin
