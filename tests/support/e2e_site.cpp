#include "tests/support/e2e_site.h"

#include <cstdlib>
#include <sstream>
#include <thread>
#include <utility>

#include "installer/platform/backend.h"
#include "installer/platform/deployment.h"
#include "standin/deployment.h"
#include "standin/publisher_id.h"

namespace pellora::testing {

namespace fs = std::filesystem;

namespace {
const std::string bin_dir = TREVALON_BIN_DIR;
}

const std::string error_box_intro =
    "A problem was encountered during installation. The following error message was copied to "
    "your clipboard:\n\n";

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

ProbeReport ProbeReport::parse(const std::string& text) {
  ProbeReport report;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    report.entries.emplace(line.substr(0, equals), line.substr(equals + 1));
  }
  return report;
}

std::string ProbeReport::value(const std::string& key) const {
  const auto it = entries.find(key);
  return it == entries.end() ? "<missing>" : it->second;
}

std::vector<std::string> ProbeReport::values(const std::string& key) const {
  std::vector<std::string> found;
  for (auto [it, end] = entries.equal_range(key); it != end; ++it) found.push_back(it->second);
  return found;
}

SiteTest::SiteTest(SiteIdentity identity, std::chrono::milliseconds patience)
    : identity_(std::move(identity)), patience_(patience) {}

void SiteTest::SetUp() {
  site_ = sandbox_.path("site");
  fs::create_directories(site_);
  fs::create_directories(sandbox_.root());
  // For the store operations the test itself makes (set-up installs, the busy lock).
  setenv("TREVALON_PLATFORM_ROOT", sandbox_.root().c_str(), 1);
  server_ = std::make_unique<SiteServer>(bin_dir + "/site-server", site_.string());
}

void SiteTest::TearDown() {
  // Programs the flows started detached must not outlive the sandbox they write into.
  EXPECT_TRUE(wait_for_chain_to_end()) << "a program of the sandbox still runs";
  server_.reset();
  unsetenv("TREVALON_PLATFORM_ROOT");
}

std::string SiteTest::full_name(const std::string& version) const {
  return standin::package_full_name(identity_.name, version, "arm64", "", identity_.publisher);
}

std::string SiteTest::family_name() const {
  return standin::package_family_name(identity_.name, identity_.publisher);
}

fs::path SiteTest::installed(const std::string& version) const {
  return sandbox_.root() / "packages" / full_name(version);
}

fs::path SiteTest::registration(const std::string& version) const {
  return sandbox_.root() / "registrations" / full_name(version);
}

std::map<std::string, std::string> SiteTest::environment(
    std::map<std::string, std::string> extra) const {
  const char* path = std::getenv("PATH");
  extra["PATH"] = bin_dir + ":" + (path != nullptr ? path : "/usr/bin:/bin");
  extra["TREVALON_PROBE_REPORT"] = report_path().string();
  return extra;
}

void SiteTest::run_tool(const std::vector<std::string>& command) const {
  const ProgramOutcome outcome = sandbox_.run(command[0], {command.begin() + 1, command.end()});
  ASSERT_EQ(outcome.code(), 0) << command[0] << ": " << outcome.err;
}

void SiteTest::strip(const fs::path& program) const {
  if (fs::exists("/usr/bin/strip")) run_tool({"/usr/bin/strip", program.string()});
}

std::vector<std::string> SiteTest::burn_command(const fs::path& out,
                                                const std::string& version) const {
  std::vector<std::string> command = {bin_dir + "/burn", "installer", bin_dir + "/pellora"};
  command.insert(command.end(), {out.string(), "--site-base-url", base_url()});
  command.insert(command.end(), {"--appinstaller", identity_.name + ".appinstaller"});
  command.insert(command.end(), {"--launch-uri", identity_.launch_uri});
  command.insert(command.end(), {"--package-full-name", full_name(version)});
  return command;
}

std::vector<std::string> SiteTest::make_site_command(const std::string& version,
                                                     const fs::path& updatecheck) const {
  std::vector<std::string> command = {bin_dir + "/make-site", "--out", site_.string()};
  command.insert(command.end(), {"--base-url", base_url(), "--name", identity_.name});
  command.insert(command.end(), {"--publisher", identity_.publisher, "--version", version});
  command.insert(command.end(),
                 {"--executable", "updatecheck.exe", "--protocol", identity_.scheme});
  command.insert(command.end(), {"--certificate", identity_.certificate});
  command.insert(command.end(), {"--file", updatecheck.string() + "=updatecheck.exe"});
  return command;
}

void SiteTest::trust_site_certificate() const {
  fs::create_directories(sandbox_.root() / "trust");
  fs::copy_file(site_ / identity_.certificate, sandbox_.root() / "trust" / identity_.certificate,
                fs::copy_options::overwrite_existing);
}

void SiteTest::install_from_site() const {
  platform::PackageManager* store = standin::package_manager();
  const auto operation = store->add_package_by_app_installer_file(
      app_installer_url(), platform::add_option_force_target_app_shutdown,
      store->get_default_package_volume());
  ASSERT_EQ(operation->wait(), platform::AsyncStatus::completed)
      << operation->get_results().error_text;
}

std::optional<ProbeReport> SiteTest::wait_for_app() const {
  if (!wait_until([&] { return fs::exists(report_path()); }, patience_)) return std::nullopt;
  return ProbeReport::parse(read_file(report_path()));
}

bool SiteTest::wait_for_chain_to_end() const {
  const std::string folder = sandbox_.root().parent_path().string() + "/";
  return wait_until(
      [&] {
        for (const auto& entry : fs::directory_iterator("/proc")) {
          std::error_code error;
          const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
          if (!error && exe.string().rfind(folder, 0) == 0) return false;
        }
        return true;
      },
      patience_);
}

}  // namespace pellora::testing
