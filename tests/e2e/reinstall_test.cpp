// The reinstall chain end to end, started by the site's escape hatch: back the data up, remove
// the package, install again, restore the data and start the application with its command line.
// The site is signed and every installer carries the key: each file the chain takes is checked.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "standin/command_line_rules.h"
#include "tests/support/e2e_site.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pellora::testing::error_box_intro;
using pellora::testing::ProgramOutcome;
using pellora::testing::read_file;
using pellora::testing::SiteTest;

const std::string bin_dir = TREVALON_BIN_DIR;
constexpr char old_version[] = "1.0.0.0";
constexpr char new_version[] = "1.1.0.0";
constexpr char no_backup[] = "The application's data could not be backed up";

// Every data file: its path under the family's folder -> a hash of its content.
using DataFiles = std::map<std::string, size_t>;

// pellora with aggressive updates: a packaged copy whose escape hatch runs then starts nothing
// itself, so the application starts once, at the end.
const std::vector<std::string> options = {"--installer", "installer.exe", "--aggressive-updates"};

class Reinstall : public SiteTest {
 protected:
  Reinstall() : SiteTest("Reinstall", 120s) {}

  void SetUp() override {
    SiteTest::SetUp();
    sign_with_new_key();
  }

  fs::path data() const { return sandbox_.root() / "data" / family_name(); }
  fs::path registration(const std::string& version) const {
    return sandbox_.root() / "registrations" / full_name(version);
  }

  // What a user's application leaves behind: nested folders, binary content, an empty file and
  // names with spaces, in each of the three folders.
  void fill_data_folders() const {
    std::string binary;
    for (int i = 0; i < 200000; ++i) binary += static_cast<char>((i * 7919) % 256);
    const std::map<std::string, std::string> files = {
        {"LocalState/settings.json", "{\"theme\": \"dark\"}\n"},
        {"LocalState/projects/big one/model.bin", binary},
        {"LocalState/projects/empty.txt", ""},
        {"RoamingState/recent files.txt", "a\r\nb\r\n"},
        {"RoamingState/sync/state", std::string("\0\xff\x01", 3)},
        {"LocalCache/Local/TrevalonDemo/start-count.txt", "7\n"},
        {"LocalCache/thumbs/1.png", binary.substr(1000, 5000)},
    };
    for (const auto& [path, content] : files) {
      fs::create_directories((data() / path).parent_path());
      std::ofstream(data() / path, std::ios::binary) << content;
    }
  }

  // The data files under `base`, whose `folders` hold LocalState, RoamingState and LocalCache.
  DataFiles data_files(const fs::path& base,
                       std::array<const char*, 3> folders = {"LocalState", "RoamingState",
                                                             "LocalCache"}) const {
    const char* package_folders[] = {"LocalState", "RoamingState", "LocalCache"};
    DataFiles files;
    for (size_t i = 0; i < folders.size(); ++i) {
      if (!fs::exists(base / folders[i])) continue;
      for (const auto& entry : fs::recursive_directory_iterator(base / folders[i])) {
        const fs::path inside = fs::relative(entry.path(), base / folders[i]);
        if (entry.is_regular_file()) {
          files[(package_folders[i] / inside).string()] =
              std::hash<std::string>{}(read_file(entry.path()));
        }
      }
    }
    return files;
  }
};

TEST_F(Reinstall, TheEscapeHatchReinstallsAndTheDataAndCommandLineSurvive) {
  std::vector<std::string> with_hatch = options;
  with_hatch.push_back("--escape-hatch");
  publish(old_version, with_hatch);
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files(data());
  ASSERT_EQ(before.size(), 7u);

  // The site offers a new version, and as the escape hatch the old installer told to reinstall.
  const fs::path stage = sandbox_.path("stage-site");
  fs::create_directories(stage);
  burn_installer(stage / "installer.exe", new_version, options);
  burn_installer(stage / "hatch.exe", old_version, options);
  const std::string hatch_url = base_url() + "hatch.exe?TREVALON_INTERNAL_UPDATE_MODE=3";
  publish(new_version, options, {},
          {"--installer-name", "installer.exe", "--site-file",
           (stage / "installer.exe").string() + "=installer.exe", "--site-file",
           (stage / "hatch.exe").string() + "=hatch.exe", "--metadata",
           "app.windows.manifests.msix.update-escape-hatch.exe=" + hatch_url, "--metadata",
           "app.windows.manifests.msix.update-escape-hatch.run-if=always"});

  const std::vector<std::string> arguments = {"--open", "my project.trv", "a \"quoted\" word"};
  const ProgramOutcome outcome = sandbox_.run((installed(old_version) / "updatecheck.exe").string(),
                                              arguments, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_NE(outcome.err.find("Running the escape hatch: " + hatch_url + "\n"), std::string::npos)
      << outcome.err;

  // packaged copy -> escape hatch (backup, removal) -> site installer (install) -> launch URI
  // -> new packaged copy (restore) -> application
  const auto app = wait_for_app();
  ASSERT_TRUE(app) << chain_err();
  ASSERT_TRUE(wait_for_chain_to_end());
  EXPECT_EQ(app->values("arg"), arguments) << chain_err();
  EXPECT_EQ(app->value("installed_path"), installed(new_version).string());
  EXPECT_FALSE(fs::exists(installed(old_version)));
  EXPECT_FALSE(fs::exists(registration(old_version)));

  const std::string chain = chain_err();
  const fs::path backup = sandbox_.tmp() / full_name(old_version) / "appdata.backup";
  std::vector<size_t> order;
  for (const std::string& line :
       {std::string("Reinstalling the app.\n"), "Backing up AppData into: " + backup.string(),
        std::string("Launching new installer \n"), std::string("Restoring backup.\n"),
        "Restoring backup from: " + backup.string() + "\n"}) {
    order.push_back(chain.find(line));
    EXPECT_NE(order.back(), std::string::npos) << line << "\n" << chain;
  }
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << chain;
  EXPECT_EQ(chain.find("Error backing up app data"), std::string::npos) << chain;
  EXPECT_EQ(chain.find("Error restoring backup"), std::string::npos) << chain;
  EXPECT_EQ(chain.find(error_box_intro), std::string::npos) << chain;

  EXPECT_EQ(data_files(data()), before) << "every data file comes back byte for byte";
  // The copy in between held the same bytes (the removal took the package's folders away).
  EXPECT_EQ(data_files(backup, {"Local", "Roaming", "LocalCache"}), before);
  EXPECT_EQ(read_file(backup / "cmd_line.txt"), standin::join_command_line(arguments));
}

// Every way a reinstall can fail before the package goes leaves everything as it was: exit 1.
TEST_F(Reinstall, AReinstallThatCannotCompleteRemovesNothing) {
  // The site offers no installer.exe, only an older one under another name.
  publish(old_version, options, {}, {"--site-file", bin_dir + "/pellora=older-setup.exe"});
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files(data());
  const fs::path reinstaller = sandbox_.path("reinstaller");
  burn_installer(reinstaller, old_version, options);
  const fs::path temporary = sandbox_.tmp() / full_name(old_version);

  // As the escape hatch would start it, with the locations the packaged copy published.
  const std::map<std::string, std::string> published = {
      {"TREVALON_APPDATA_LOCAL_FOLDER", (data() / "LocalState").string()},
      {"TREVALON_APPDATA_ROAMING_FOLDER", (data() / "RoamingState").string()},
      {"TREVALON_APPDATA_LOCAL_CACHE_FOLDER", (data() / "LocalCache").string()},
      {"TREVALON_INTERNAL_ORIGINAL_COMMAND_LINE", "--open x"}};
  std::map<std::string, std::string> missing_folder = published;
  missing_folder["TREVALON_APPDATA_LOCAL_FOLDER"] = (data() / "NoSuchState").string();
  struct Case {
    std::string what;
    std::map<std::string, std::string> environment;
    std::string box_starts_with;
    std::string box_names;
    bool temporary_folder_in_the_way = false;
  };
  const Case cases[] = {
      {"a data folder that is not there", missing_folder, no_backup,
       "SHFileOperationW(cp " + (data() / "NoSuchState").string()},
      // Started by hand, or by a rescue program that did not pass the locations on.
      {"no data folder handed over", {}, no_backup, "no data folder was handed over"},
      {"no installer on the site", published,
       "Failed to download " + base_url() + "installer.exe due to error: ", "Not found (404)."},
      {"the temporary folder is a file", published, "The program's temporary folder",
       temporary.string() + " cannot be used, because it is not a folder", true},
      // Another file the vendor signed, with its signature, served as the installer.
      {"a signed file of another name as the installer", published,
       "Failed to download " + base_url() + "installer.exe due to error: ",
       "The signature of installer.exe did not match: it was not signed with this application's "
       "key."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(wait_for_chain_to_end());
    fs::remove_all(temporary);
    if (c.temporary_folder_in_the_way) std::ofstream(temporary) << "in the way";
    if (c.what.starts_with("a signed file")) {
      fs::copy_file(site_ / "older-setup.exe", site_ / "installer.exe");
      fs::copy_file(site_ / "older-setup.exe.sig", site_ / "installer.exe.sig");
    }
    const ProgramOutcome outcome = sandbox_.run(
        reinstaller.string(), {"TREVALON_INTERNAL_UPDATE_MODE=3"}, 60s, environment(c.environment));
    EXPECT_EQ(outcome.code(), 1) << outcome.err;
    EXPECT_EQ(clipboard().rfind(c.box_starts_with, 0), 0u) << clipboard();
    EXPECT_NE(clipboard().find(c.box_names), std::string::npos) << clipboard();
    EXPECT_EQ(outcome.err.find("Removing old package"), std::string::npos) << outcome.err;
    EXPECT_TRUE(fs::exists(registration(old_version)));
    EXPECT_TRUE(fs::exists(installed(old_version) / "updatecheck.exe"));
    EXPECT_EQ(data_files(data()), before);
  }
}

// The restore, opened through the launch URI: a folder the backup left out is skipped, the rest
// comes back, and the application gets the saved command line, never the backup's path.
TEST_F(Reinstall, TheRestoreTakesWhatTheBackupHoldsAndNeverPassesItsPath) {
  publish(old_version, options);
  install_from_site();
  const fs::path backup = sandbox_.path("saved  backup");  // two spaces reach the restore whole
  fs::create_directories(backup / "Local");
  std::ofstream(backup / "Local" / "notes.txt") << "kept";
  std::ofstream(backup / "cmd_line.txt") << "--open \"my file\"";
  const auto restore = [&] {
    const ProgramOutcome opened = sandbox_.run(
        bin_dir + "/open-uri",
        {"trevalon-reinstall:open", "TREVALON_INTERNAL_UPDATE_MODE=4 " + backup.string()}, 10s,
        environment());
    EXPECT_EQ(opened.code(), 0) << opened.err;
    return wait_for_app();
  };

  auto app = restore();
  ASSERT_TRUE(app) << chain_err();
  EXPECT_EQ(app->values("arg"), (std::vector<std::string>{"--open", "my file"}));
  EXPECT_EQ(read_file(data() / "LocalState" / "notes.txt"), "kept");

  ASSERT_TRUE(wait_for_chain_to_end());
  fs::remove(sandbox_.path("app-report"));
  fs::remove_all(backup);
  app = restore();
  ASSERT_TRUE(app) << chain_err();
  EXPECT_TRUE(app->values("arg").empty()) << "the application started with the backup's path";
  EXPECT_NE(chain_err().find("Error restoring backup: "), std::string::npos) << chain_err();
}

}  // namespace
