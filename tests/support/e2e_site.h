#pragma once
// For end-to-end tests of the installer's flows: a sandboxed stand-in root with a site served on
// loopback by site-server, burned copies of pellora, sites made by make-site with standin-probe
// as the application, and the probe's report.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/platform_sandbox.h"
#include "tests/support/site_server.h"

namespace pellora::testing {

// The start of every error box's text.
extern const std::string error_box_intro;

// Polls `condition` every 20 ms until it holds (true) or `limit` has passed (false).
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(30));

// What the probe application wrote: key -> values in order.
struct ProbeReport {
  std::multimap<std::string, std::string> entries;

  // Reads the probe's "key=value" lines.
  static ProbeReport parse(const std::string& text);
  // The first value of `key`, or "<missing>".
  std::string value(const std::string& key) const;
  std::vector<std::string> values(const std::string& key) const;
};

// The package a test's site publishes.
struct SiteIdentity {
  std::string name;
  std::string publisher;
  std::string scheme;
  std::string launch_uri;
  std::string certificate;
};

class SiteTest : public ::testing::Test {
 protected:
  // `patience`: how long to wait for the application's report and for the programs to end.
  SiteTest(SiteIdentity identity, std::chrono::milliseconds patience);

  void SetUp() override;
  void TearDown() override;

  std::string full_name(const std::string& version) const;
  std::string family_name() const;
  std::string base_url() const { return server_->url("/"); }
  std::string app_installer_url() const { return base_url() + identity_.name + ".appinstaller"; }
  std::filesystem::path report_path() const { return sandbox_.path("app-report"); }
  std::filesystem::path installed(const std::string& version) const;
  std::filesystem::path registration(const std::string& version) const;
  // Standard error of the last program started and of everything it started (they share it).
  std::string chain_err() const { return read_file(sandbox_.path("stderr.txt")); }
  std::string clipboard() const { return read_file(sandbox_.root() / "clipboard.txt"); }

  // The environment of every program the test starts: the shell finds the PowerShell stand-in
  // on PATH, and the probe application knows where to report.
  std::map<std::string, std::string> environment(
      std::map<std::string, std::string> extra = {}) const;

  // Runs a build tool in the sandbox; it must succeed.
  void run_tool(const std::vector<std::string>& command) const;
  // Without their debug information the programs zip and unzip several times faster.
  void strip(const std::filesystem::path& program) const;

  // The burn command for a copy of pellora with the settings of `version` of this site; the
  // caller adds the rest of the options.
  std::vector<std::string> burn_command(const std::filesystem::path& out,
                                        const std::string& version) const;
  // The make-site command publishing `version` with `updatecheck` as the entry executable
  // (opened by the launch URI); the caller adds the application's files.
  std::vector<std::string> make_site_command(const std::string& version,
                                             const std::filesystem::path& updatecheck) const;

  void trust_site_certificate() const;
  // Installs what the site offers through the store itself, as an earlier run would have.
  void install_from_site() const;

  // The application's report, once it has started (it may be the last of a chain of processes).
  std::optional<ProbeReport> wait_for_app() const;
  // Whether every program started from the sandbox (installers, their copies, the application)
  // has ended; they are detached, so they are nobody's children to wait for.
  bool wait_for_chain_to_end() const;

  SiteIdentity identity_;
  std::chrono::milliseconds patience_;
  PlatformSandbox sandbox_;
  std::filesystem::path site_;
  std::unique_ptr<SiteServer> server_;
};

}  // namespace pellora::testing
