// The POSIX stand-in's deployment service end to end: sites built by make-site, served on
// loopback, installed, upgraded and removed, with the codes each failure carries. Programs
// started from packages, launch URIs and elevation are played by the installer's flows.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

constexpr char publisher[] = "CN=Trevalon Test, O=Quelmarin Labs, L=Lyon, C=FR";
constexpr char name[] = "Trevalon.E2E";
constexpr char scheme[] = "trevalon-e2e";
const std::string bin_dir = TREVALON_BIN_DIR;
const std::string package = std::string("/") + name + ".msix";

std::string full_name(const std::string& version) {
  return package_full_name(name, version, "arm64", "", publisher);
}
std::string family() { return package_family_name(name, publisher); }

using testing::read_file;

struct Outcome {
  AsyncStatus status;
  uint32_t error_code;
  DeploymentResult result;
  std::vector<DeploymentProgress> progress;

  uint32_t extended() const { return static_cast<uint32_t>(result.extended_error_code); }
};

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_);
    fs::create_directories(site_folder_);
    setenv("TREVALON_PLATFORM_ROOT", root_.c_str(), 1);
    unsetenv("TREVALON_PLATFORM_ELEVATED");
    unsetenv("TREVALON_PLATFORM_ELEVATION");
    // Incompressible, and larger than one range chunk so the download takes several.
    std::mt19937 random(7);
    std::string payload(700 * 1024, '\0');
    for (char& c : payload) c = static_cast<char>(random());
    work_.write("payload.bin", payload);
    site_ = std::make_unique<testing::SiteServer>(bin_dir + "/site-server", site_folder_);
  }

  void TearDown() override {
    site_.reset();
    for (const char* variable :
         {"TREVALON_PLATFORM_ROOT", "TREVALON_PLATFORM_ELEVATED", "TREVALON_PLATFORM_ELEVATION"}) {
      unsetenv(variable);
    }
  }

  void make_site(const std::string& version, std::vector<std::string> extra = {}) {
    std::vector<std::string> command = {bin_dir + "/make-site", "--out", site_folder_};
    command.insert(command.end(), {"--base-url", site_->url("/"), "--name", name});
    command.insert(command.end(), {"--publisher", publisher, "--version", version});
    command.insert(command.end(), {"--executable", "bin/probe", "--protocol", scheme});
    command.insert(command.end(), {"--file", bin_dir + "/standin-probe=bin/probe", "--file",
                                   work_.path("payload.bin") + "=data/pay load.bin"});
    command.insert(command.end(), {"--certificate", "site.cer"});
    command.insert(command.end(), extra.begin(), extra.end());
    ASSERT_EQ(testing::run_and_wait(command), 0);
  }

  void trust_site_certificate() {
    fs::create_directories(root_ + "/trust");
    fs::copy_file(site_folder_ + "/site.cer", root_ + "/trust/site.cer",
                  fs::copy_options::overwrite_existing);
  }

  // Starts an operation with a progress handler that keeps every report.
  std::shared_ptr<DeploymentOperation> watched(std::shared_ptr<DeploymentOperation> operation) {
    std::lock_guard lock(mutex_);
    progress_.clear();
    operation->set_progress_handler([this](const DeploymentProgress& p) {
      std::lock_guard lock(mutex_);
      progress_.push_back(p);
    });
    return operation;
  }
  std::shared_ptr<DeploymentOperation> start_install() {
    PackageManager* manager = package_manager();
    return watched(manager->add_package_by_app_installer_file(
        site_->url("/") + name + ".appinstaller", add_option_force_target_app_shutdown,
        manager->get_default_package_volume()));
  }
  Outcome finish(const std::shared_ptr<DeploymentOperation>& operation) {
    Outcome outcome{operation->wait(), operation->error_code(), operation->get_results(), {}};
    std::lock_guard lock(mutex_);
    outcome.progress = progress_;
    return outcome;
  }
  Outcome install() { return finish(start_install()); }
  Outcome remove(const std::string& full) {
    return finish(watched(package_manager()->remove_package(full)));
  }

  bool nothing_installed() {
    auto empty = [](const std::string& folder) {
      return !fs::exists(folder) || fs::is_empty(folder);
    };
    return empty(root_ + "/packages") && empty(root_ + "/registrations") &&
           !fs::exists(root_ + "/staging") && !fs::exists(root_ + "/protocols/" + scheme);
  }

  testing::ScratchFolder work_;
  const std::string root_ = work_.path("root");
  const std::string site_folder_ = work_.path("site");
  std::unique_ptr<testing::SiteServer> site_;
  std::mutex mutex_;
  std::vector<DeploymentProgress> progress_;
};

TEST_F(StandinTest, InstallsInRangeChunksIntoThePackageFolderWithItsDataFolders) {
  make_site("1.0.0.0");
  trust_site_certificate();
  const Outcome outcome = install();
  ASSERT_EQ(outcome.status, AsyncStatus::completed) << outcome.result.error_text;
  EXPECT_EQ(outcome.error_code, 0u);
  EXPECT_EQ(outcome.extended(), 0u);
  EXPECT_TRUE(outcome.result.is_registered);
  int processing = 0;
  uint32_t last = 0;
  for (const DeploymentProgress& p : outcome.progress) {
    if (p.state != DeploymentProgressState::processing) continue;
    ++processing;
    EXPECT_GE(p.percentage, last);
    last = p.percentage;
  }
  EXPECT_GE(processing, 3);

  const std::string folder = root_ + "/packages/" + full_name("1.0.0.0");
  EXPECT_TRUE(fs::exists(folder + "/AppxManifest.xml"));
  EXPECT_EQ(read_file(folder + "/data/pay load.bin"), work_.read("payload.bin"));
  EXPECT_FALSE(fs::exists(folder + "/[Content_Types].xml"));
  EXPECT_TRUE(fs::exists(root_ + "/registrations/" + full_name("1.0.0.0")));
  for (const char* data : {"LocalState", "RoamingState", "LocalCache"}) {
    EXPECT_TRUE(fs::is_directory(root_ + "/data/" + family() + "/" + data)) << data;
  }
  EXPECT_FALSE(fs::exists(root_ + "/staging"));
}

TEST_F(StandinTest, UpgradeReplacesTheOlderVersionAndKeepsTheData) {
  make_site("1.0.0.0");
  trust_site_certificate();
  ASSERT_EQ(install().status, AsyncStatus::completed);
  const std::string local_state = root_ + "/data/" + family() + "/LocalState";
  std::ofstream(local_state + "/settings.txt") << "kept";

  make_site("1.1.0.0");
  const Outcome outcome = install();
  ASSERT_EQ(outcome.status, AsyncStatus::completed) << outcome.result.error_text;
  EXPECT_FALSE(fs::exists(root_ + "/packages/" + full_name("1.0.0.0")));
  EXPECT_FALSE(fs::exists(root_ + "/registrations/" + full_name("1.0.0.0")));
  EXPECT_TRUE(fs::exists(root_ + "/packages/" + full_name("1.1.0.0") + "/bin/probe"));
  EXPECT_EQ(read_file(local_state + "/settings.txt"), "kept");
  EXPECT_EQ(read_file(root_ + "/protocols/" + scheme), full_name("1.1.0.0") + "\nbin/probe\n");

  // The same version again succeeds without change.
  const Outcome again = install();
  EXPECT_EQ(again.status, AsyncStatus::completed) << again.result.error_text;
  EXPECT_TRUE(again.result.is_registered);

  // A lower version fails as a downgrade and leaves the installed one alone.
  make_site("1.0.5.0");
  const Outcome downgrade = install();
  EXPECT_EQ(downgrade.status, AsyncStatus::error);
  EXPECT_EQ(downgrade.extended(), 0x80073D06u);
  EXPECT_EQ(downgrade.error_code, 0x80073D06u);
  EXPECT_EQ(downgrade.result.error_text.rfind("error 0x80073D06: ", 0), 0u);
  EXPECT_FALSE(downgrade.result.is_registered);
  EXPECT_TRUE(fs::exists(root_ + "/registrations/" + full_name("1.1.0.0")));
  EXPECT_FALSE(fs::exists(root_ + "/packages/" + full_name("1.0.5.0")));
}

TEST_F(StandinTest, AnUntrustedPublisherFailsAndPowershellImportsOnlyWhenElevated) {
  make_site("1.0.0.0");
  const Outcome untrusted = install();
  EXPECT_EQ(untrusted.status, AsyncStatus::error);
  EXPECT_EQ(untrusted.extended(), 0x800B0109u);
  EXPECT_EQ(untrusted.result.error_text.rfind("error 0x800B0109: ", 0), 0u);
  EXPECT_TRUE(nothing_installed());

  // PowerShell imports for an elevated process only.
  fs::copy_file(site_folder_ + "/site.cer", work_.path("it's here.cer"));
  const std::string command = "Import-Certificate -FilePath '" + work_.path("it''s here.cer") +
                              "' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";
  std::vector<std::string> powershell = split_command_line(command);
  powershell.insert(powershell.begin(), bin_dir + "/powershell");
  EXPECT_NE(testing::run_and_wait(powershell), 0);
  EXPECT_FALSE(fs::exists(root_ + "/trust"));

  // The elevated import, as the installer sends it, is played by the installer's first install.
}

TEST_F(StandinTest, ABusyStoreAServerWithoutRangesAndMissingRightsFailWithTheirCodes) {
  make_site("1.0.0.0");
  trust_site_certificate();
  {
    // Another deployment holds the store lock.
    const int fd = open((root_ + "/store.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const Outcome busy = install();
    close(fd);
    EXPECT_EQ(busy.status, AsyncStatus::error);
    EXPECT_EQ(busy.extended(), 0x87AF0205u);
  }
  site_->set_faults({package + "=no-ranges"});
  const Outcome no_range = install();
  EXPECT_EQ(no_range.status, AsyncStatus::error);
  EXPECT_EQ(no_range.extended(), 0x80D05011u);
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
}

TEST_F(StandinTest, RemoveDeletesThePackageItsRegistrationProtocolAndData) {
  make_site("1.0.0.0");
  trust_site_certificate();
  ASSERT_EQ(install().status, AsyncStatus::completed);
  const Outcome removed = remove(full_name("1.0.0.0"));
  EXPECT_EQ(removed.status, AsyncStatus::completed) << removed.result.error_text;
  EXPECT_TRUE(nothing_installed());
  EXPECT_FALSE(fs::exists(root_ + "/data/" + family()));
  EXPECT_LE(
      backend_services().shell->shell_execute("open", std::string(scheme) + ":", "", sw_shownormal),
      32);
  EXPECT_EQ(get_last_error(), 1155u);

  const Outcome missing = remove(full_name("1.0.0.0"));
  EXPECT_EQ(missing.status, AsyncStatus::error);
  EXPECT_EQ(missing.result.error_text.rfind("error 0x80073CF1: ", 0), 0u);
  EXPECT_EQ(missing.extended(), 0x80073CF1u);
}

// Which entry names are refused is checked on package_entry_path; here that extraction heeds it,
// and that a manifest must match the .appinstaller file.
TEST_F(StandinTest, AnEscapingEntryOrAManifestThatDoesNotMatchIsRefused) {
  make_site("1.0.0.0", {"--raw-entry", work_.path("payload.bin") + "=a/..%2F..%2Fescaped.txt"});
  trust_site_certificate();
  EXPECT_EQ(install().status, AsyncStatus::error);
  EXPECT_TRUE(nothing_installed());
  EXPECT_FALSE(fs::exists(root_ + "/escaped.txt"));

  make_site("1.0.0.0", {"--manifest-version", "1.0.0.1"});
  const Outcome outcome = install();
  EXPECT_EQ(outcome.status, AsyncStatus::error);
  EXPECT_NE(outcome.result.error_text.find("does not match"), std::string::npos);
  EXPECT_TRUE(nothing_installed());
}

}  // namespace
}  // namespace standin
