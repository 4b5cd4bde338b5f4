// The packaging step, run as the built program: `burn installer` gives a program whose settings
// read back exactly, and refuses what it cannot write. The flows' tests start burned programs.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "installer/core/burned_in_settings.h"
#include "tests/support/e2e_site.h"

namespace {

namespace fs = std::filesystem;
using pellora::testing::has;
using pellora::testing::PlatformSandbox;
using pellora::testing::ProgramOutcome;
using pellora::testing::read_file;

const std::string bin_dir = TREVALON_BIN_DIR;
const std::string marker = "BURNED_IN_DATA 3B7E1D92-5A4C-4F08-9E61-C2D4A87F0B35";

pellora::ParsedSettingsBlock settings_at(const std::string& program, size_t at) {
  return pellora::parse_settings_block(reinterpret_cast<const uint8_t*>(program.data()) + at,
                                       pellora::settings_block_size);
}

TEST(Foundation, ABurnedInstallerReadsItsSettingsBack) {
  PlatformSandbox sandbox;
  const std::string original = read_file(bin_dir + "/pellora");
  const fs::path burned_path = sandbox.path("pellora");
  const ProgramOutcome burn =
      sandbox.run(bin_dir + "/burn",
                  {"installer", bin_dir + "/pellora", burned_path.string(), "--site-base-url",
                   "http://127.0.0.1:9/app/", "--appinstaller", "App.appinstaller", "--launch-uri",
                   "trevalon-app:start?x=\xC3\xA9", "--package-full-name", "App_1.2.3.4_arm64__pub",
                   "--app-exe=bin\\App.exe",  // the --name=value form
                   "--certificate", "App.cer", "--installer", "Setup App.exe", "--escape-hatch"});
  ASSERT_EQ(burn.code(), 0) << burn.err;

  const std::string burned = read_file(burned_path);
  ASSERT_EQ(burned.size(), original.size());
  struct stat before {
  }, after{};
  ::stat((bin_dir + "/pellora").c_str(), &before);
  ::stat(burned_path.c_str(), &after);
  EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
  const size_t block = original.find(marker);
  const pellora::ParsedSettingsBlock parsed = settings_at(burned, block);
  ASSERT_EQ(parsed.problem, "");
  const pellora::BurnedInSettings& got = parsed.settings;
  const std::vector<std::string> strings = {
      got.site_base_url, got.appinstaller_file_name, got.launch_uri,          got.package_full_name,
      got.app_exe_name,  got.certificate_file_name,  got.installer_file_name, got.eighth};
  EXPECT_EQ(strings,
            (std::vector<std::string>{"http://127.0.0.1:9/app/", "App.appinstaller",
                                      "trevalon-app:start?x=\xC3\xA9", "App_1.2.3.4_arm64__pub",
                                      "bin\\App.exe", "App.cer", "Setup App.exe", ""}));
  EXPECT_FALSE(got.aggressive_updates);
  EXPECT_TRUE(got.escape_hatch_enabled);
  // Only the record's own bytes changed: eight strings, their NUL bytes and the flag byte.
  size_t record = 1;
  for (const std::string& value : strings) record += value.size() + 1;
  EXPECT_EQ(burned.compare(0, block, original, 0, block), 0);
  EXPECT_EQ(burned.compare(block + record, std::string::npos, original, block + record), 0);
  EXPECT_FALSE(has(burned, marker));
}

// The guarantees both burns share, shown for the installer.
TEST(Foundation, BurnRefusesWhatItCannotWrite) {
  PlatformSandbox sandbox;
  const std::string pellora = bin_dir + "/pellora";
  const std::string out = sandbox.path("out").string();
  const std::vector<std::string> required = {"--site-base-url", "u", "--appinstaller",      "a",
                                             "--launch-uri",    "l", "--package-full-name", "p",
                                             "--app-exe",       "e"};
  auto burn = [&](const std::string& in, std::vector<std::string> extra = {}) {
    if (extra.empty()) extra = required;
    extra.insert(extra.begin(), {"installer", in, out});
    return sandbox.run(bin_dir + "/burn", extra);
  };
  std::ofstream(sandbox.path("twice"), std::ios::binary)
      << marker << std::string(20000, 'x') << marker << std::string(20000, 'x');
  std::vector<std::string> too_long = required;
  too_long[1] = std::string(pellora::settings_block_size - 12, 'u');  // one byte too many

  ASSERT_EQ(burn(pellora).code(), 0);
  fs::rename(out, sandbox.path("burned"));
  const std::pair<ProgramOutcome, std::string> refusals[] = {
      {burn(sandbox.path("burned").string()), "marker was not found"},
      {burn(sandbox.path("twice").string()), "more than once"},
      {burn(pellora, too_long), "block holds only 16436"},
      {burn(sandbox.path("missing").string()), "cannot read"},
      {burn(pellora, {"--site-base-url", "u"}), "--appinstaller is required"},
  };
  for (const auto& [outcome, reason] : refusals) {
    EXPECT_NE(outcome.code(), 0) << reason;
    EXPECT_TRUE(has(outcome.err, reason)) << outcome.err;
  }
  EXPECT_FALSE(fs::exists(out)) << "a refused burn writes nothing";
  too_long[1].pop_back();  // now it fills the block exactly
  EXPECT_EQ(burn(pellora, too_long).code(), 0);
}

}  // namespace
