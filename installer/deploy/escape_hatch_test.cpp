#include "installer/deploy/escape_hatch.h"

#include <gtest/gtest.h>

#include "installer/appdata/backup.h"
#include "installer/core/state.h"
#include "installer/core/uri.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"
#include "tests/support/platform_sandbox.h"

namespace pellora {
namespace {

struct Row {
  const char* name;
  EscapeHatchRunIf run_if;
  std::string metadata_family;
  std::string metadata_site;
  bool update_available;
  bool run;
  std::string log_text;
  int family_lookups;
};

class EscapeHatchDecisionTest : public ::testing::TestWithParam<Row> {};

TEST_P(EscapeHatchDecisionTest, FollowsItsRow) {
  const Row& row = GetParam();
  Metadata metadata;
  metadata.escape_hatch_run_if = row.run_if;
  metadata.package_family_name = row.metadata_family;
  metadata.site_base_url = row.metadata_site;
  int family_lookups = 0;
  int update_checks = 0;

  const EscapeHatchDecision decision = decide_escape_hatch(
      metadata, "https://site.example/app/",
      [&] {
        ++family_lookups;
        return std::string("App_abc");
      },
      [&] {
        ++update_checks;
        return row.update_available;
      });

  EXPECT_EQ(decision.run, row.run);
  EXPECT_EQ(decision.log_text, row.log_text);
  EXPECT_EQ(family_lookups, row.family_lookups);
  EXPECT_EQ(update_checks, row.run_if == EscapeHatchRunIf::not_up_to_date ? 1 : 0);
}

const std::string site = "https://site.example/app/";
const std::string no_family = "No package family name in metadata, not running the escape hatch.";

INSTANTIATE_TEST_SUITE_P(
    Rows, EscapeHatchDecisionTest,
    ::testing::Values(
        Row{"Unknown", EscapeHatchRunIf::unknown, "Other_x", "https://elsewhere/", true, false, "",
            0},
        Row{"FamilyChangedWithoutName", EscapeHatchRunIf::package_family_changed, "", site, false,
            false, no_family, 0},
        Row{"FamilyUnchanged", EscapeHatchRunIf::package_family_changed, "App_abc", "", false,
            false, "Package family name unchanged, not running the escape hatch.", 1},
        Row{"FamilyDiffersOnlyInCase", EscapeHatchRunIf::package_family_changed, "app_ABC", "",
            false, true, "Package family name changed.", 1},
        Row{"ReinstallWithoutName", EscapeHatchRunIf::reinstall_required, "", "https://new/", false,
            false, no_family, 0},
        Row{"ReinstallWithoutSite", EscapeHatchRunIf::reinstall_required, "Other_x", "", false,
            false, "No site base URL in metadata, not running the escape hatch.", 0},
        Row{"ReinstallSiteMoved", EscapeHatchRunIf::reinstall_required, "Other_x",
            "https://site.example/app", false, true, "Site base URL changed.", 0},
        Row{"ReinstallFamilyChanged", EscapeHatchRunIf::reinstall_required, "Other_x", site, false,
            true, "Package family name changed.", 1},
        Row{"ReinstallNotRequired", EscapeHatchRunIf::reinstall_required, "App_abc", site, false,
            false, "Reinstall not required, not running the escape hatch.", 1},
        Row{"NotUpToDate", EscapeHatchRunIf::not_up_to_date, "", "", true, true,
            "Package not up to date.", 0},
        Row{"UpToDate", EscapeHatchRunIf::not_up_to_date, "", "", false, false,
            "Up to date, not running the escape hatch.", 0},
        Row{"Always", EscapeHatchRunIf::always, "", "", false, true, "", 0}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

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

TEST_F(RunEscapeHatch, AConditionNotMetLogsItsLineAndPublishesNothing) {
  metadata.escape_hatch_run_if = EscapeHatchRunIf::package_family_changed;
  metadata.package_family_name = fake.package.family_name_value;
  metadata.escape_hatch_exe = "https://site.example/fix.exe";
  EXPECT_FALSE(run_escape_hatch(&metadata));
  EXPECT_EQ(fake.debug.text(), "Package family name unchanged, not running the escape hatch.\n");
  EXPECT_TRUE(fake.system.environment.empty());
}

TEST_F(RunEscapeHatch, AnUnsupportedSchemeIsIgnoredAfterPublishingTheData) {
  forwarded_args = "--file x";
  metadata.escape_hatch_exe = "ftp://site.example/fix.exe?a=1";
  EXPECT_FALSE(run_escape_hatch(&metadata));
  EXPECT_EQ(fake.debug.text(),
            "Running the escape hatch: ftp://site.example/fix.exe?a=1\n"
            "Unsupported URL scheme (ftp), ignoring the escape hatch.\n");
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
  EXPECT_EQ(fake.shell.calls[0].file, fake.scratch.path("App_1.0.0.0_arm64__abc/escape-hatch.exe"));
  // The query, decoded: names, and values after a "=" where there are any.
  EXPECT_EQ(fake.shell.calls[0].parameters, "a b=2 x==y dir=C:\\my files");
  EXPECT_EQ(testing::read_file(fake.shell.calls[0].file), "rescue");
}

}  // namespace
}  // namespace pellora
