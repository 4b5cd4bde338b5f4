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
#include "tests/support/probe_report.h"
#include "tests/support/site_server.h"

namespace pellora::testing {

// The start of every error box's text.
extern const std::string error_box_intro;

// Polls `condition` every 20 ms until it holds (true) or `limit` has passed (false).
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(30));

class SiteTest : public ::testing::Test {
 protected:
  // The site publishes the package "Trevalon.<name>" with the scheme "trevalon-<name>" and the
  // certificate "<name>.cer". `patience`: how long to wait for the application and the chain.
  SiteTest(const std::string& name, std::chrono::milliseconds patience);

  void SetUp() override;
  void TearDown() override;

  std::string publisher() const { return "CN=Trevalon " + name_ + ", O=Quelmarin Labs, C=FR"; }
  std::string full_name(const std::string& version) const;
  std::string family_name() const;
  std::string base_url() const { return server_->url("/"); }
  std::filesystem::path installed(const std::string& version) const;
  // Standard error of the last program started and of everything it started (they share it).
  std::string chain_err() const { return read_file(sandbox_.path("stderr.txt")); }
  std::string clipboard() const { return read_file(sandbox_.root() / "clipboard.txt"); }

  // The environment of every program the test starts (PATH to the tools, the probe's report).
  std::map<std::string, std::string> environment(
      std::map<std::string, std::string> extra = {}) const;
  // Runs a build tool in the sandbox; it must succeed.
  void run_tool(const std::vector<std::string>& command) const;

  // Burns pellora for `version` of this site, with `app_exe_`, the certificate and `options`.
  void burn_installer(const std::filesystem::path& out, const std::string& version,
                      const std::vector<std::string>& options = {}) const;
  // Runs make-site for `version` of this site with `options`, and trusts its certificate.
  void make_site(const std::string& version, const std::vector<std::string>& options) const;
  // Publishes `version` with the installer burned with `options` as the entry executable (opened
  // by the launch URI), `files` (by default the probe as bin/app) and `extra` make-site options.
  void publish(const std::string& version, const std::vector<std::string>& options,
               std::vector<std::string> files = {},
               const std::vector<std::string>& extra = {}) const;
  // Makes the P-256 key pair <name>.pem(.pub) in the sandbox; returns the public X and Y.
  std::string make_key(const std::string& name) const;
  // From now on the site is signed with a new key, and every installer burned carries it.
  void sign_with_new_key();
  // Installs what the site offers through the store itself, as an earlier run would have.
  void install_from_site() const;

  // The application's report, once it has started (it may be the last of a chain of processes).
  std::optional<ProbeReport> wait_for_app() const;
  // Whether every (detached) program started from the sandbox has ended.
  bool wait_for_chain_to_end() const;

  const std::string name_;
  const std::chrono::milliseconds patience_;
  std::string app_exe_ = "bin/app";
  PlatformSandbox sandbox_;
  std::filesystem::path site_;
  std::unique_ptr<SiteServer> server_;
  std::string signing_key_;  // the private key's PEM file; empty: nothing signed
};

}  // namespace pellora::testing
