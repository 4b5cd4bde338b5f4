#include "tests/support/e2e_site.h"

#include <cstdlib>
#include <thread>

#include "common/deployment.h"
#include "standin/deployment.h"
#include "standin/publisher_id.h"

namespace pellora::testing {

namespace fs = std::filesystem;

namespace {
const std::string bin_dir = TREVALON_BIN_DIR;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

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

SiteTest::SiteTest(const std::string& name, std::chrono::milliseconds patience)
    : name_(name), patience_(patience) {}

void SiteTest::SetUp() {
  site_ = sandbox_.path("site");
  fs::create_directories(site_);
  fs::create_directories(sandbox_.root());
  // For the store operations the test itself makes (set-up installs).
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
  return standin::package_full_name("Trevalon." + name_, version, "arm64", "", publisher());
}

std::string SiteTest::family_name() const {
  return standin::package_family_name("Trevalon." + name_, publisher());
}

fs::path SiteTest::installed(const std::string& version) const {
  return sandbox_.root() / "packages" / full_name(version);
}

std::map<std::string, std::string> SiteTest::environment(
    std::map<std::string, std::string> extra) const {
  const char* path = std::getenv("PATH");
  extra["PATH"] = bin_dir + ":" + (path != nullptr ? path : "/usr/bin:/bin");
  extra["TREVALON_PROBE_REPORT"] = sandbox_.path("app-report").string();
  return extra;
}

void SiteTest::run_tool(const std::vector<std::string>& command) const {
  // Generous: under the sanitizers, on a loaded machine, a burn takes several seconds.
  const ProgramOutcome outcome =
      sandbox_.run(command[0], {command.begin() + 1, command.end()}, std::chrono::minutes(2));
  ASSERT_EQ(outcome.code(), 0) << command[0] << ": " << outcome.err;
}

void SiteTest::burn_installer(const fs::path& out, const std::string& version,
                              const std::vector<std::string>& options) const {
  std::vector<std::string> command = {bin_dir + "/burn", "installer", bin_dir + "/pellora"};
  command.insert(command.end(), {out.string(), "--site-base-url", base_url()});
  command.insert(command.end(), {"--appinstaller", "Trevalon." + name_ + ".appinstaller"});
  command.insert(command.end(), {"--launch-uri", "trevalon-" + lower(name_) + ":open"});
  command.insert(command.end(), {"--package-full-name", full_name(version)});
  command.insert(command.end(), {"--app-exe", app_exe_, "--certificate", name_ + ".cer"});
  if (!signing_key_.empty()) command.insert(command.end(), {"--update-key", signing_key_ + ".pub"});
  command.insert(command.end(), options.begin(), options.end());
  run_tool(command);
}

void SiteTest::publish(const std::string& version, const std::vector<std::string>& options,
                       std::vector<std::string> files,
                       const std::vector<std::string>& extra) const {
  const fs::path stage = sandbox_.path("stage-" + version);
  fs::create_directories(stage);
  burn_installer(stage / "updatecheck.exe", version, options);
  if (files.empty()) {
    fs::copy_file(bin_dir + "/standin-probe", stage / "app");
    files = {"--file", (stage / "app").string() + "=bin/app"};
  }
  // Without their debug information the programs zip and unzip several times faster.
  for (const auto& entry : fs::directory_iterator(stage)) {
    if (fs::exists("/usr/bin/strip")) run_tool({"/usr/bin/strip", entry.path().string()});
  }
  files.insert(files.end(),
               {"--executable", "updatecheck.exe", "--protocol", "trevalon-" + lower(name_),
                "--file", (stage / "updatecheck.exe").string() + "=updatecheck.exe"});
  files.insert(files.end(), extra.begin(), extra.end());
  make_site(version, files);
}

void SiteTest::make_site(const std::string& version,
                         const std::vector<std::string>& options) const {
  std::vector<std::string> command = {bin_dir + "/make-site", "--out", site_.string()};
  command.insert(command.end(), {"--base-url", base_url(), "--name", "Trevalon." + name_});
  command.insert(command.end(), {"--publisher", publisher(), "--version", version});
  command.insert(command.end(), {"--certificate", name_ + ".cer"});
  if (!signing_key_.empty()) command.insert(command.end(), {"--signing-key", signing_key_});
  command.insert(command.end(), options.begin(), options.end());
  run_tool(command);
  fs::create_directories(sandbox_.root() / "trust");
  fs::copy_file(site_ / (name_ + ".cer"), sandbox_.root() / "trust" / (name_ + ".cer"),
                fs::copy_options::overwrite_existing);
}

std::string SiteTest::make_key(const std::string& name) const {
  const std::string pem = sandbox_.path(name + ".pem").string();
  const std::string openssl = "/usr/bin/openssl";
  run_tool({openssl, "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", pem});
  run_tool({openssl, "ec", "-in", pem, "-pubout", "-out", pem + ".pub"});
  run_tool({openssl, "ec", "-in", pem, "-pubout", "-outform", "DER", "-out", pem + ".der"});
  const std::string der = read_file(pem + ".der");
  return der.substr(der.size() - 64);
}

void SiteTest::sign_with_new_key() {
  make_key("vendor-key");
  signing_key_ = sandbox_.path("vendor-key.pem").string();
}

void SiteTest::install_from_site() const {
  platform::PackageManager* store = standin::package_manager();
  const auto operation = store->add_package_by_app_installer_file(
      base_url() + "Trevalon." + name_ + ".appinstaller",
      platform::add_option_force_target_app_shutdown, store->get_default_package_volume());
  ASSERT_EQ(operation->wait(), platform::AsyncStatus::completed)
      << operation->get_results().error_text;
}

std::optional<ProbeReport> SiteTest::wait_for_app() const {
  const fs::path report = sandbox_.path("app-report");
  if (!wait_until([&] { return fs::exists(report); }, patience_)) return std::nullopt;
  return ProbeReport::parse(read_file(report));
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
