// The POSIX stand-in end to end: sites built by make-site, served on loopback, installed,
// upgraded and removed through the deployment service; programs started through the shell
// from package folders and launch URIs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "installer/platform/backend.h"
#include "standin/command_line_rules.h"
#include "standin/deployment.h"
#include "standin/publisher_id.h"
#include "tests/support/e2e_site.h"
#include "tests/support/loopback_site.h"
#include "tests/support/platform_sandbox.h"

extern char** environ;

namespace standin {
namespace {

using namespace pellora::platform;
namespace testing = pellora::testing;

namespace fs = std::filesystem;

constexpr char publisher[] = "CN=Trevalon Test, O=Quelmarin Labs, L=Lyon, C=FR";
constexpr char name[] = "Trevalon.E2E";
constexpr char scheme[] = "trevalon-e2e";
const std::string bin_dir = TREVALON_BIN_DIR;

std::string full_name(const std::string& version) {
  return package_full_name(name, version, "arm64", "", publisher);
}
std::string family() { return package_family_name(name, publisher); }

using testing::read_file;

int run(const std::vector<std::string>& command) { return pellora::testing::run_and_wait(command); }

struct Outcome {
  AsyncStatus status;
  uint32_t error_code;
  DeploymentResult result;
  std::vector<DeploymentProgress> progress;
};

Outcome finish(const std::shared_ptr<DeploymentOperation>& operation,
               const std::shared_ptr<std::vector<DeploymentProgress>>& reports,
               const std::shared_ptr<std::mutex>& mutex) {
  Outcome outcome{operation->wait(), operation->error_code(), operation->get_results(), {}};
  std::lock_guard lock(*mutex);
  outcome.progress = *reports;
  return outcome;
}

using Report = testing::ProbeReport;

std::optional<Report> wait_for_report(const std::string& path) {
  if (!testing::wait_until([&] { return fs::exists(path); }, std::chrono::seconds(10))) {
    return std::nullopt;
  }
  return Report::parse(read_file(path));
}

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/standin-e2e-XXXXXX";
    work_ = mkdtemp(pattern);
    root_ = work_ + "/root";
    site_folder_ = work_ + "/site";
    fs::create_directories(root_);
    fs::create_directories(site_folder_);
    setenv("TREVALON_PLATFORM_ROOT", root_.c_str(), 1);
    setenv("TREVALON_PROBE_REPORT", (work_ + "/report").c_str(), 1);
    unsetenv("TREVALON_PLATFORM_ELEVATED");
    unsetenv("TREVALON_PLATFORM_ELEVATION");
    // Incompressible, and larger than one range chunk so the download takes several.
    std::mt19937 random(7);
    std::string payload(700 * 1024, '\0');
    for (char& c : payload) c = static_cast<char>(random());
    std::ofstream(work_ + "/payload.bin", std::ios::binary) << payload;
    site_ = std::make_unique<testing::LoopbackSite>(site_folder_);
  }

  void TearDown() override {
    site_.reset();
    unsetenv("TREVALON_PLATFORM_ROOT");
    unsetenv("TREVALON_PROBE_REPORT");
    unsetenv("TREVALON_PLATFORM_ELEVATED");
    unsetenv("TREVALON_PLATFORM_ELEVATION");
    fs::remove_all(work_);
  }

  void make_site(const std::string& version, std::vector<std::string> extra = {}) {
    std::vector<std::string> command = {bin_dir + "/make-site",
                                        "--out",
                                        site_folder_,
                                        "--base-url",
                                        site_->base_url(),
                                        "--name",
                                        name,
                                        "--publisher",
                                        publisher,
                                        "--version",
                                        version,
                                        "--executable",
                                        "bin/probe",
                                        "--file",
                                        bin_dir + "/standin-probe=bin/probe",
                                        "--file",
                                        work_ + "/payload.bin=data/pay load.bin",
                                        "--protocol",
                                        scheme,
                                        "--certificate",
                                        "site.cer"};
    command.insert(command.end(), extra.begin(), extra.end());
    ASSERT_EQ(run(command), 0);
  }

  void trust_site_certificate() {
    fs::create_directories(root_ + "/trust");
    fs::copy_file(site_folder_ + "/site.cer", root_ + "/trust/site.cer",
                  fs::copy_options::overwrite_existing);
  }

  std::shared_ptr<DeploymentOperation> start_install() {
    PackageManager* manager = package_manager();
    auto operation = manager->add_package_by_app_installer_file(
        site_->base_url() + name + ".appinstaller", add_option_force_target_app_shutdown,
        manager->get_default_package_volume());
    watch(operation);
    return operation;
  }

  Outcome install() { return finish(start_install(), reports_, mutex_); }

  Outcome remove(const std::string& full) {
    auto operation = package_manager()->remove_package(full);
    watch(operation);
    return finish(operation, reports_, mutex_);
  }

  void watch(const std::shared_ptr<DeploymentOperation>& operation) {
    reports_ = std::make_shared<std::vector<DeploymentProgress>>();
    operation->set_progress_handler(
        [reports = reports_, mutex = mutex_](const DeploymentProgress& p) {
          std::lock_guard lock(*mutex);
          reports->push_back(p);
        });
  }

  std::optional<Report> launch(const std::string& verb, const std::string& file,
                               const std::string& parameters) {
    fs::remove(work_ + "/report");
    const intptr_t result =
        backend_services().shell->shell_execute(verb, file, parameters, sw_shownormal);
    EXPECT_GT(result, 32) << "last error " << get_last_error();
    if (result <= 32) return std::nullopt;
    return wait_for_report(work_ + "/report");
  }

  bool nothing_installed() {
    auto empty = [](const std::string& folder) {
      return !fs::exists(folder) || fs::is_empty(folder);
    };
    return empty(root_ + "/packages") && empty(root_ + "/registrations") &&
           !fs::exists(root_ + "/staging") && !fs::exists(root_ + "/protocols/" + scheme);
  }

  std::string work_;
  std::string root_;
  std::string site_folder_;
  std::unique_ptr<testing::LoopbackSite> site_;
  std::shared_ptr<std::vector<DeploymentProgress>> reports_;
  std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
};

TEST_F(StandinTest, InstallsInRangeChunksAndTheProgramRunsWithThePackagesIdentity) {
  make_site("1.0.0.0");
  trust_site_certificate();
  const Outcome outcome = install();
  ASSERT_EQ(outcome.status, AsyncStatus::completed) << outcome.result.error_text;
  EXPECT_EQ(outcome.error_code, 0u);
  EXPECT_EQ(outcome.result.extended_error_code, 0);
  EXPECT_TRUE(outcome.result.is_registered);
  EXPECT_GE(site_->range_requests(), 3);
  int processing = 0;
  uint32_t last = 0;
  for (const DeploymentProgress& p : outcome.progress) {
    if (p.state != DeploymentProgressState::processing) continue;
    ++processing;
    EXPECT_GE(p.percentage, last);
    last = p.percentage;
  }
  EXPECT_GE(processing, 3);

  const std::string full = full_name("1.0.0.0");
  const std::string folder = root_ + "/packages/" + full;
  EXPECT_TRUE(fs::exists(folder + "/AppxManifest.xml"));
  EXPECT_EQ(read_file(folder + "/data/pay load.bin"), read_file(work_ + "/payload.bin"));
  EXPECT_FALSE(fs::exists(folder + "/[Content_Types].xml"));
  EXPECT_TRUE(fs::exists(root_ + "/registrations/" + full));
  for (const char* data : {"LocalState", "RoamingState", "LocalCache"}) {
    EXPECT_TRUE(fs::is_directory(root_ + "/data/" + family() + "/" + data)) << data;
  }
  EXPECT_FALSE(fs::exists(root_ + "/staging"));

  // Started from the package folder: the package's identity.
  auto report = launch("open", folder + "/bin/probe", "one \"two three\"");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->value("identity"), "122");
  EXPECT_EQ(report->value("family"), family());
  EXPECT_EQ(report->value("installed_path"), folder);
  EXPECT_EQ(report->value("local_folder"), root_ + "/data/" + family() + "/LocalState");
  EXPECT_EQ(report->values("arg"), (std::vector<std::string>{"one", "two three"}));
  EXPECT_EQ(report->value("elevated"), "");

  // A copy in the temporary folder has none.
  const std::string copy = work_ + "/probe-copy";
  fs::copy_file(folder + "/bin/probe", copy);
  report = launch("open", copy, "");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->value("identity"), "15700");
  EXPECT_EQ(report->value("error"), "The process has no package identity.");
  EXPECT_TRUE(report->values("arg").empty());

  // The launch URI starts the package's entry executable with the parameters only.
  report = launch("open", std::string(scheme) + ":", "TREVALON_INTERNAL_UPDATE_MODE=2 a");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->value("identity"), "122");
  EXPECT_EQ(report->value("command_line"), "TREVALON_INTERNAL_UPDATE_MODE=2 a");

  // "runas" marks the started process as elevated.
  report = launch("runas", folder + "/bin/probe", "");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->value("elevated"), "1");
}

TEST_F(StandinTest, ParametersSurviveTheSplitAndTheProgramsJoin) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"C:\\Program Files\\x", "", "quote\"inside"},
      {"trailing\\", "\\\\server\\share\\", "mode=repair verbose", "O'Brien"},
  };
  for (const auto& arguments : cases) {
    const std::string parameters = join_command_line(arguments);
    const auto report = launch("open", bin_dir + "/standin-probe", parameters);
    ASSERT_TRUE(report) << parameters;
    EXPECT_EQ(report->values("arg"), arguments) << parameters;
    EXPECT_EQ(report->value("command_line"), parameters);
  }
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
  EXPECT_TRUE(outcome.result.is_registered);
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
  EXPECT_EQ(static_cast<uint32_t>(downgrade.result.extended_error_code), 0x80073D06u);
  EXPECT_EQ(downgrade.error_code, 0x80073D06u);
  EXPECT_EQ(downgrade.result.error_text.rfind("error 0x80073D06: ", 0), 0u);
  EXPECT_FALSE(downgrade.result.is_registered);
  EXPECT_TRUE(fs::exists(root_ + "/registrations/" + full_name("1.1.0.0")));
  EXPECT_FALSE(fs::exists(root_ + "/packages/" + full_name("1.0.5.0")));
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
    trust_site_certificate();
    ASSERT_EQ(install().status, AsyncStatus::completed);
    make_site("1.1.0.0");
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("TREVALON_STANDIN_END_AT", step, 1);
      start_install()->wait();
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
    EXPECT_EQ(read_file(root_ + "/protocols/" + scheme), full_name("1.1.0.0") + "\nbin/probe\n");
  }
}

TEST_F(StandinTest, AnUntrustedPublisherFailsUntilPowershellImportsTheCertificate) {
  make_site("1.0.0.0");
  const Outcome untrusted = install();
  EXPECT_EQ(untrusted.status, AsyncStatus::error);
  EXPECT_EQ(static_cast<uint32_t>(untrusted.result.extended_error_code), 0x800B0109u);
  EXPECT_EQ(untrusted.result.error_text.rfind("error 0x800B0109: ", 0), 0u);
  EXPECT_TRUE(nothing_installed());

  // The command the installer sends, through the stand-in's shell as the installer starts it.
  fs::copy_file(site_folder_ + "/site.cer", work_ + "/it's here.cer");
  const std::string path = work_ + "/it''s here.cer";
  const std::string command = "Import-Certificate -FilePath '" + path +
                              "' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";
  const std::string old_path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (bin_dir + ":" + old_path).c_str(), 1);
  const intptr_t result =
      backend_services().shell->shell_execute("runas", "powershell", command, sw_hide);
  setenv("PATH", old_path.c_str(), 1);
  ASSERT_GT(result, 32);
  auto imported = [this] {
    if (!fs::exists(root_ + "/trust")) return false;
    for (const auto& entry : fs::directory_iterator(root_ + "/trust")) {
      if (entry.path().extension() == ".cer") return true;
    }
    return false;
  };
  for (int attempt = 0; attempt < 100 && !imported(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  const Outcome trusted = install();
  EXPECT_EQ(trusted.status, AsyncStatus::completed) << trusted.result.error_text;
}

TEST_F(StandinTest, PowershellRefusesUnelevatedAndUnknownCommands) {
  make_site("1.0.0.0");
  const std::string certificate = site_folder_ + "/site.cer";
  const std::vector<std::string> import = {
      bin_dir + "/powershell", "Import-Certificate", "-FilePath",
      "'" + certificate + "'", "-CertStoreLocation", "Cert:\\LocalMachine\\TrustedPeople"};
  EXPECT_NE(run(import), 0);  // not elevated
  setenv("TREVALON_PLATFORM_ELEVATED", "1", 1);
  EXPECT_NE(run({bin_dir + "/powershell", "Get-ChildItem"}), 0);
  EXPECT_FALSE(fs::exists(root_ + "/trust"));
  EXPECT_EQ(run(import), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ + "/trust"), fs::directory_iterator()), 1);
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
    EXPECT_EQ(static_cast<uint32_t>(busy.result.extended_error_code), 0x87AF0205u);
  }
  site_->set_refuse_ranges(true);
  const Outcome no_range = install();
  EXPECT_EQ(no_range.status, AsyncStatus::error);
  EXPECT_EQ(static_cast<uint32_t>(no_range.result.extended_error_code), 0x80D05011u);
  EXPECT_TRUE(nothing_installed());
  site_->set_refuse_ranges(false);

  fs::create_directories(root_ + "/policy");
  std::ofstream(root_ + "/policy/require-admin");
  const Outcome denied = install();
  EXPECT_EQ(denied.status, AsyncStatus::error);
  EXPECT_EQ(denied.error_code, 0x80070005u);
  EXPECT_TRUE(nothing_installed());
  setenv("TREVALON_PLATFORM_ELEVATED", "1", 1);
  EXPECT_EQ(install().status, AsyncStatus::completed);
}

TEST_F(StandinTest, CancelDuringTheDownloadLeavesNothingBehind) {
  make_site("1.0.0.0");
  trust_site_certificate();
  site_->set_slow(true);
  auto operation = start_install();
  for (int attempt = 0; attempt < 200; ++attempt) {
    {
      std::lock_guard lock(*mutex_);
      if (!reports_->empty() && reports_->back().state == DeploymentProgressState::processing &&
          reports_->back().percentage > 0) {
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const auto started = std::chrono::steady_clock::now();
  std::thread([operation] { operation->cancel(); }).join();
  EXPECT_EQ(operation->wait(), AsyncStatus::canceled);
  EXPECT_EQ(operation->error_code(), 0u);  // ErrorCode speaks only of errors
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(nothing_installed());
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
  EXPECT_EQ(static_cast<uint32_t>(missing.result.extended_error_code), 0x80073CF1u);
}

TEST_F(StandinTest, EntriesThatWouldLeaveThePackageFolderAreRefused) {
  for (const std::string entry :
       {"../escaped.txt", "%2E%2E/escaped.txt", "a/..%2F..%2Fescaped.txt"}) {
    fs::remove_all(site_folder_);
    make_site("1.0.0.0", {"--raw-entry", work_ + "/payload.bin=" + entry});
    trust_site_certificate();
    const Outcome outcome = install();
    EXPECT_EQ(outcome.status, AsyncStatus::error) << entry;
    EXPECT_TRUE(nothing_installed()) << entry;
    EXPECT_FALSE(fs::exists(root_ + "/packages/escaped.txt")) << entry;
    EXPECT_FALSE(fs::exists(root_ + "/escaped.txt")) << entry;
  }
}

TEST_F(StandinTest, AManifestThatDoesNotMatchTheAppInstallerFileIsRefused) {
  make_site("1.0.0.0", {"--manifest-version", "1.0.0.1"});
  trust_site_certificate();
  const Outcome outcome = install();
  EXPECT_EQ(outcome.status, AsyncStatus::error);
  EXPECT_NE(outcome.result.error_text.find("does not match"), std::string::npos);
  EXPECT_TRUE(nothing_installed());
}

}  // namespace
}  // namespace standin
