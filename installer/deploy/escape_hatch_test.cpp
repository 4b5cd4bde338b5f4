#include "installer/deploy/escape_hatch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "installer/appdata/backup.h"
#include "installer/core/state.h"
#include "installer/core/uri.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch_folder.h"

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

TEST(EscapeHatchArguments, JoinsNamesAndNonEmptyValuesWithSpaces) {
  EXPECT_EQ(escape_hatch_arguments({{"mode", "repair"}, {"verbose", ""}}), "mode=repair verbose");
  EXPECT_EQ(escape_hatch_arguments({{"a", ""}, {"b", "2"}}), "a b=2");
  EXPECT_EQ(escape_hatch_arguments({{"path", "C:\\a b"}, {"x", "=y"}}), "path=C:\\a b x==y");
  EXPECT_EQ(escape_hatch_arguments({}), "");
}

TEST(EscapeHatchArguments, TakesTheDecodedQueryOfTheUrl) {
  const Uri uri("https://site.example/fix.exe?mode=repair&verbose&dir=C%3A%5Cmy%20files&a=%2B");
  EXPECT_EQ(escape_hatch_arguments(uri.query_parsed()), "mode=repair verbose dir=C:\\my files a=+");
}

TEST(EscapeHatchPackagePath, DropsTheFirstCharacterOnly) {
  EXPECT_EQ(escape_hatch_package_path("/escape.exe"), "escape.exe");
  EXPECT_EQ(escape_hatch_package_path("/tools/fix.exe"), "tools/fix.exe");
  EXPECT_EQ(escape_hatch_package_path("/"), "");
  EXPECT_EQ(escape_hatch_package_path(""), "");
}

TEST(RunEscapeHatch, AConditionNotMetLogsItsLineAndPublishesNothing) {
  testing::ScopedFakePlatform platform;
  platform.package.has_identity = true;
  Metadata metadata;
  metadata.escape_hatch_run_if = EscapeHatchRunIf::package_family_changed;
  metadata.package_family_name = platform.package.family_name_value;
  metadata.escape_hatch_exe = "https://site.example/fix.exe";

  EXPECT_FALSE(run_escape_hatch(&metadata));

  EXPECT_EQ(platform.debug.text(),
            "Package family name unchanged, not running the escape hatch.\n");
  EXPECT_TRUE(platform.system.environment.empty());
}

TEST(RunEscapeHatch, AnUnsupportedSchemeIsIgnoredAfterPublishingTheData) {
  testing::ScopedFakePlatform platform;
  platform.package.has_identity = true;
  forwarded_args = "--file x";
  Metadata metadata;
  metadata.escape_hatch_run_if = EscapeHatchRunIf::always;
  metadata.escape_hatch_exe = "ftp://site.example/fix.exe?a=1";

  EXPECT_FALSE(run_escape_hatch(&metadata));

  EXPECT_EQ(platform.debug.text(),
            "Running the escape hatch: ftp://site.example/fix.exe?a=1\n"
            "Unsupported URL scheme (ftp), ignoring the escape hatch.\n");
  EXPECT_EQ(platform.system.environment[appdata_local_variable],
            platform.package.local_folder_value);
  EXPECT_EQ(platform.system.environment[original_command_line_variable], "--file x");
  EXPECT_EQ(platform.package.family_name_lookups, 0);
}

class RunEscapeHatchProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(scratch_ + "/package/tools");
    std::ofstream(scratch_ + "/package/tools/fix.exe") << "rescue";
    platform_.system.temp_path_value = scratch_ + "/";
    platform_.services().files = platform::backend_services().files;
    platform_.services().http = &http_;
    platform_.package.has_identity = true;
    platform_.package.installed_path_value = scratch_ + "/package";
    metadata_.escape_hatch_run_if = EscapeHatchRunIf::always;
  }

  bool run() { return run_escape_hatch(&metadata_); }

  testing::ScopedFakePlatform platform_;
  testing::FakeHttp http_;
  Metadata metadata_;
  pellora::testing::ScratchFolder scratch_folder_;
  std::string scratch_ = scratch_folder_.path();
};

TEST_F(RunEscapeHatchProgram, AFailedDownloadIsLoggedAndIgnored) {
  metadata_.escape_hatch_exe = "http://site.example/missing.exe";

  const bool started = run();

  EXPECT_FALSE(started);
  EXPECT_TRUE(platform_.debug.contains(
      "Failed to download http://site.example/missing.exe due to error: "));
  EXPECT_TRUE(platform_.debug.lines().back().ends_with("\nIgnoring the escape hatch.\n"));
  EXPECT_TRUE(platform_.shell.calls.empty());
  EXPECT_TRUE(platform_.window.boxes.empty());
}

TEST_F(RunEscapeHatchProgram, ACancelledDownloadIsRaisedAgain) {
  metadata_.escape_hatch_exe = "https://site.example/fix.exe";
  http_.fail(metadata_.escape_hatch_exe, platform::cancelled_error());

  try {
    run();
    FAIL() << "the cancellation should have been raised";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_TRUE(platform_.shell.calls.empty());
}

TEST_F(RunEscapeHatchProgram, StartsACopyOfAPackageFile) {
  metadata_.escape_hatch_exe = "ms-appx:///tools/fix.exe?a=&b=2";

  const bool started = run();

  EXPECT_TRUE(started);
  EXPECT_TRUE(platform_.debug.contains("Running package file: tools/fix.exe\n"));
  ASSERT_EQ(platform_.shell.calls.size(), 1u);
  const std::string copy = platform_.shell.calls[0].file;
  EXPECT_TRUE(copy.ends_with("/escape-hatch.exe"));
  EXPECT_EQ(copy.rfind(scratch_ + "/", 0), 0u);
  EXPECT_EQ(platform_.shell.calls[0].parameters, "a b=2");
  std::ifstream copied(copy);
  std::string content;
  copied >> content;
  EXPECT_EQ(content, "rescue");
}

}  // namespace
}  // namespace pellora
