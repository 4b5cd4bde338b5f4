#include "installer/deploy/escape_hatch.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "installer/appdata/backup.h"
#include "installer/core/state.h"
#include "installer/core/temp_directory.h"
#include "installer/core/uri.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"
#include "tests/support/platform_sandbox.h"

namespace pellora {
namespace {

// Whether the escape hatch runs for each condition of the site, what it logs, and which
// lookups it makes (the family name only when needed; the update check for not-up-to-date).
TEST(EscapeHatchDecision, FollowsItsRow) {
  const std::string site = "https://site.example/app/";
  const std::string no_family = "No package family name in metadata, not running the escape hatch.";
  using If = EscapeHatchRunIf;
  const struct {
    If run_if;
    std::string family, site, log;
    bool update_available, run;
    int family_lookups;
  } rows[] = {
      {If::unknown, "Other_x", "https://elsewhere/", "", true, false, 0},
      {If::package_family_changed, "", site, no_family, false, false, 0},
      {If::package_family_changed, "App_abc", "",
       "Package family name unchanged, not running the escape hatch.", false, false, 1},
      {If::package_family_changed, "app_ABC", "", "Package family name changed.", false, true, 1},
      {If::reinstall_required, "", "https://new/", no_family, false, false, 0},
      {If::reinstall_required, "Other_x", "",
       "No site base URL in metadata, not running the escape hatch.", false, false, 0},
      {If::reinstall_required, "Other_x", "https://site.example/app", "Site base URL changed.",
       false, true, 0},
      {If::reinstall_required, "Other_x", site, "Package family name changed.", false, true, 1},
      {If::reinstall_required, "App_abc", site,
       "Reinstall not required, not running the escape hatch.", false, false, 1},
      {If::not_up_to_date, "", "", "Package not up to date.", true, true, 0},
      {If::not_up_to_date, "", "", "Up to date, not running the escape hatch.", false, false, 0},
      {If::always, "", "", "", false, true, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(static_cast<int>(row.run_if)) + " " + row.family + " " + row.site);
    Metadata metadata;
    metadata.escape_hatch_run_if = row.run_if;
    metadata.package_family_name = row.family;
    metadata.site_base_url = row.site;
    int family_lookups = 0;
    int update_checks = 0;
    const EscapeHatchDecision decision = decide_escape_hatch(
        metadata, site, [&] { return ++family_lookups, std::string("App_abc"); },
        [&] { return ++update_checks, row.update_available; });
    EXPECT_EQ(decision.run, row.run);
    EXPECT_EQ(decision.log_text, row.log);
    EXPECT_EQ(family_lookups, row.family_lookups);
    EXPECT_EQ(update_checks, row.run_if == If::not_up_to_date ? 1 : 0);
  }
}

class RunEscapeHatch : public ::testing::Test {
 protected:
  RunEscapeHatch() {
    fake.services().http = &http;
    fake.package.has_identity = true;
    fake.package.installed_path_value = fake.scratch.path("package");
    fake.scratch.write("package/tools/fix.exe", "rescue");
    metadata.escape_hatch_run_if = EscapeHatchRunIf::always;
  }

  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
  Metadata metadata;
};

// The data folders and command line are published only once the escape hatch is to run.
TEST_F(RunEscapeHatch, AnUnsupportedSchemeIsIgnoredAfterPublishingTheData) {
  forwarded_args = "--file x";
  metadata.escape_hatch_exe = "ftp://site.example/fix.exe?a=1";
  metadata.escape_hatch_run_if = EscapeHatchRunIf::package_family_changed;
  metadata.package_family_name = fake.package.family_name_value;
  EXPECT_FALSE(run_escape_hatch(&metadata));
  EXPECT_TRUE(fake.system.environment.empty());

  metadata.escape_hatch_run_if = EscapeHatchRunIf::always;
  EXPECT_FALSE(run_escape_hatch(&metadata));
  EXPECT_EQ(fake.debug.lines().back(),
            "Unsupported URL scheme (ftp), ignoring the escape hatch.\n");
  EXPECT_TRUE(fake.debug.contains("Running the escape hatch: ftp://site.example/fix.exe?a=1\n"));
  EXPECT_EQ(fake.system.environment[appdata_local_variable], fake.package.local_folder_value);
  EXPECT_EQ(fake.system.environment[original_command_line_variable], "--file x");
}

TEST_F(RunEscapeHatch, AFailedDownloadIsIgnoredAndACancelledOneRaisedAgain) {
  metadata.escape_hatch_exe = "http://site.example/missing.exe";
  EXPECT_FALSE(run_escape_hatch(&metadata));
  EXPECT_TRUE(
      fake.debug.contains("Failed to download http://site.example/missing.exe due to error: "));
  EXPECT_TRUE(fake.debug.lines().back().ends_with("\nIgnoring the escape hatch.\n"));
  EXPECT_TRUE(fake.window.boxes.empty());

  http.fail(metadata.escape_hatch_exe, platform::cancelled_error());
  EXPECT_EQ(testing::ending_of([&] { run_escape_hatch(&metadata); }), "cancelled");
  EXPECT_TRUE(fake.shell.calls.empty());
}

TEST_F(RunEscapeHatch, StartsACopyOfAPackageFile) {
  metadata.escape_hatch_exe = "ms-appx:///tools/fix.exe?a=&b=2&x=%3Dy&dir=C%3A%5Cmy%20files";
  EXPECT_TRUE(run_escape_hatch(&metadata));
  EXPECT_TRUE(fake.debug.contains("Running package file: tools/fix.exe\n"));
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].file, temp_directory() + "escape-hatch.exe");
  // The query, decoded: names, and values after a "=" where there are any.
  EXPECT_EQ(fake.shell.calls[0].parameters, "a b=2 x==y dir=C:\\my files");
  EXPECT_EQ(testing::read_file(fake.shell.calls[0].file), "rescue");
}

}  // namespace
}  // namespace pellora
