// The installer's start-up and the packaging step, run as the built programs: an installer that
// was never burned refuses to start, and `burn installer` gives a program whose settings read
// back exactly.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "installer/core/burned_in_settings.h"
#include "tests/support/platform_sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pellora::testing::PlatformSandbox;
using pellora::testing::ProgramOutcome;
using pellora::testing::read_file;

const std::string bin_dir = TREVALON_BIN_DIR;
const std::string marker = "BURNED_IN_DATA 3B7E1D92-5A4C-4F08-9E61-C2D4A87F0B35";
const std::string not_configured = "has not been configured by the packaging step";

size_t count(const std::string& text, const std::string& what) {
  size_t found = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
  return found;
}

TEST(Foundation, AnInstallerThatWasNeverBurnedRefusesToStart) {
  PlatformSandbox sandbox;
  const ProgramOutcome outcome = sandbox.run(bin_dir + "/pellora", {"--update-check", "a b"});
  ASSERT_FALSE(outcome.timed_out) << outcome.err;
  EXPECT_EQ(outcome.code(), 1) << outcome.err;

  const pellora::ParsedSettingsBlock pristine = [] {
    const std::string program = read_file(bin_dir + "/pellora");
    const size_t at = program.find(marker);
    return pellora::parse_settings_block(reinterpret_cast<const uint8_t*>(program.data()) + at,
                                         pellora::settings_block_size);
  }();
  ASSERT_NE(pristine.problem.find(not_configured), std::string::npos);
  EXPECT_NE(outcome.err.find(pristine.problem + "\n"), std::string::npos) << "logged";
  EXPECT_NE(outcome.err.find("A problem was encountered during installation. The following error "
                             "message was copied to your clipboard:\n\n" +
                             pristine.problem),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(read_file(sandbox.root() / "clipboard.txt"), pristine.problem);
  EXPECT_TRUE(fs::is_empty(sandbox.tmp())) << "the flow never started";
}

struct BurnedSettings {
  std::vector<std::string> arguments;
  pellora::BurnedInSettings expected;
};

BurnedSettings sample_settings() {
  BurnedSettings sample;
  sample.arguments = {"--site-base-url",
                      "http://127.0.0.1:9/app/",
                      "--appinstaller",
                      "App.appinstaller",
                      "--launch-uri",
                      "trevalon-app:start?x=\xC3\xA9",
                      "--package-full-name",
                      "App_1.2.3.4_arm64__pub",
                      "--app-exe=bin\\App.exe",  // the --name=value form
                      "--certificate",
                      "App.cer",
                      "--installer",
                      "Setup App.exe",
                      "--escape-hatch"};
  auto& s = sample.expected;
  s.site_base_url = "http://127.0.0.1:9/app/";
  s.appinstaller_file_name = "App.appinstaller";
  s.launch_uri = "trevalon-app:start?x=\xC3\xA9";
  s.package_full_name = "App_1.2.3.4_arm64__pub";
  s.app_exe_name = "bin\\App.exe";
  s.certificate_file_name = "App.cer";
  s.installer_file_name = "Setup App.exe";
  s.escape_hatch_enabled = true;
  return sample;
}

TEST(Foundation, BurnWritesSettingsThatReadBackExactly) {
  PlatformSandbox sandbox;
  const std::string original = read_file(bin_dir + "/pellora");
  const size_t block = original.find(marker);
  ASSERT_NE(block, std::string::npos);

  const BurnedSettings sample = sample_settings();
  std::vector<std::string> arguments = {"installer", bin_dir + "/pellora",
                                        sandbox.path("pellora").string()};
  arguments.insert(arguments.end(), sample.arguments.begin(), sample.arguments.end());
  const ProgramOutcome burn = sandbox.run(bin_dir + "/burn", arguments);
  ASSERT_EQ(burn.code(), 0) << burn.err;

  const std::string burned = read_file(sandbox.path("pellora"));
  ASSERT_EQ(burned.size(), original.size());
  struct stat before {
  }, after{};
  ::stat((bin_dir + "/pellora").c_str(), &before);
  ::stat(sandbox.path("pellora").c_str(), &after);
  EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);

  const pellora::ParsedSettingsBlock parsed = pellora::parse_settings_block(
      reinterpret_cast<const uint8_t*>(burned.data()) + block, pellora::settings_block_size);
  ASSERT_EQ(parsed.problem, "");
  const auto& got = parsed.settings;
  const auto& want = sample.expected;
  EXPECT_EQ(got.site_base_url, want.site_base_url);
  EXPECT_EQ(got.appinstaller_file_name, want.appinstaller_file_name);
  EXPECT_EQ(got.launch_uri, want.launch_uri);
  EXPECT_EQ(got.package_full_name, want.package_full_name);
  EXPECT_EQ(got.app_exe_name, want.app_exe_name);
  EXPECT_EQ(got.certificate_file_name, want.certificate_file_name);
  EXPECT_EQ(got.installer_file_name, want.installer_file_name);
  EXPECT_EQ(got.eighth, "");
  EXPECT_FALSE(got.aggressive_updates);
  EXPECT_TRUE(got.escape_hatch_enabled);

  // Only the record's own bytes changed: eight strings, their NUL bytes and the flag byte.
  size_t record = 1;
  for (const std::string* value :
       {&want.site_base_url, &want.appinstaller_file_name, &want.launch_uri,
        &want.package_full_name, &want.app_exe_name, &want.certificate_file_name,
        &want.installer_file_name, &want.eighth}) {
    record += value->size() + 1;
  }
  EXPECT_EQ(burned.compare(0, block, original, 0, block), 0);
  EXPECT_EQ(burned.compare(block + record, std::string::npos, original, block + record), 0);
  EXPECT_EQ(count(burned, marker), 0u);
}

TEST(Foundation, BurnRefusesWhatItCannotWrite) {
  PlatformSandbox sandbox;
  const std::string pellora = bin_dir + "/pellora";
  const std::string out = sandbox.path("out").string();
  const std::vector<std::string> required = {"--site-base-url", "u", "--appinstaller",      "a",
                                             "--launch-uri",    "l", "--package-full-name", "p",
                                             "--app-exe",       "e"};
  auto burn = [&](const std::string& in, std::vector<std::string> extra) {
    std::vector<std::string> arguments = {"installer", in, out};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return sandbox.run(bin_dir + "/burn", arguments);
  };

  // Burned once already: the marker is gone.
  ASSERT_EQ(burn(pellora, required).code(), 0);
  fs::rename(out, sandbox.path("burned"));
  ProgramOutcome outcome = burn(sandbox.path("burned").string(), required);
  EXPECT_NE(outcome.code(), 0);
  EXPECT_NE(outcome.err.find("marker was not found"), std::string::npos) << outcome.err;

  std::ofstream(sandbox.path("twice"), std::ios::binary)
      << marker << std::string(20000, 'x') << marker << std::string(20000, 'x');
  outcome = burn(sandbox.path("twice").string(), required);
  EXPECT_NE(outcome.code(), 0);
  EXPECT_NE(outcome.err.find("more than once"), std::string::npos) << outcome.err;

  std::vector<std::string> too_long = required;
  too_long[1] = std::string(pellora::settings_block_size - 12, 'u');  // one byte too many
  outcome = burn(pellora, too_long);
  EXPECT_NE(outcome.code(), 0);
  EXPECT_NE(outcome.err.find("block holds only 16436"), std::string::npos) << outcome.err;
  too_long[1].pop_back();  // now it fills the block exactly
  EXPECT_EQ(burn(pellora, too_long).code(), 0);
  fs::remove(out);

  outcome = burn(sandbox.path("missing").string(), required);
  EXPECT_NE(outcome.code(), 0);
  EXPECT_NE(outcome.err.find("cannot read"), std::string::npos) << outcome.err;

  outcome = burn(pellora, {"--site-base-url", "u"});
  EXPECT_NE(outcome.code(), 0);
  EXPECT_NE(outcome.err.find("--appinstaller is required"), std::string::npos) << outcome.err;

  EXPECT_FALSE(fs::exists(out)) << "a refused burn writes nothing";
}

TEST(Foundation, ABurnedInstallerStartsItsWork) {
  PlatformSandbox sandbox;
  const BurnedSettings sample = sample_settings();
  std::vector<std::string> arguments = {"installer", bin_dir + "/pellora",
                                        sandbox.path("pellora").string()};
  arguments.insert(arguments.end(), sample.arguments.begin(), sample.arguments.end());
  ASSERT_EQ(sandbox.run(bin_dir + "/burn", arguments).code(), 0);

  // Whatever the work does with a site that is not there, the process must end in a defined
  // way: by itself, or through closing the window.
  const ProgramOutcome outcome = sandbox.run(sandbox.path("pellora").string(), {}, 15s);
  EXPECT_TRUE(outcome.exited()) << "ended by a signal: " << outcome.err;
  EXPECT_TRUE(outcome.code() == 0 || outcome.code() == 1 || outcome.code() == 5)
      << outcome.code() << "\n"
      << outcome.err;
  EXPECT_EQ(outcome.err.find(not_configured), std::string::npos) << outcome.err;
}

}  // namespace
