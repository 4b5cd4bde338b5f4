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
using pellora::testing::has;
using pellora::testing::ProgramOutcome;
using pellora::testing::read_file;
using pellora::testing::SiteTest;
using pellora::testing::wait_until;

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
  fs::path backups() const { return sandbox_.tmp() / family_name(); }
  // The names of the backups in the family's folder, complete or not.
  std::vector<std::string> backup_names() const {
    std::vector<std::string> names;
    if (!fs::exists(backups())) return names;
    for (const auto& entry : fs::directory_iterator(backups())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("appdata.backup.", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The locations a packaged copy publishes before it starts the escape hatch.
  std::map<std::string, std::string> published() const {
    return {{"TREVALON_APPDATA_LOCAL_FOLDER", (data() / "LocalState").string()},
            {"TREVALON_APPDATA_ROAMING_FOLDER", (data() / "RoamingState").string()},
            {"TREVALON_APPDATA_LOCAL_CACHE_FOLDER", (data() / "LocalCache").string()},
            {"TREVALON_INTERNAL_ORIGINAL_COMMAND_LINE", "--open x"}};
  }
  // Publishes `version` with `installer` as the site's installer.exe.
  void publish_with_installer(const std::string& version, const fs::path& installer) const {
    publish(version, options, {},
            {"--installer-name", "installer.exe", "--site-file",
             installer.string() + "=installer.exe"});
  }
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
  const fs::path backup = backups() / "appdata.backup.1";
  std::vector<size_t> order;
  for (const std::string& line :
       {std::string("Reinstalling the app.\n"), std::string("Launching new installer \n"),
        "Backing up AppData into: " + backup.string(), std::string("Restoring backup.\n"),
        "Restoring backup from: " + backup.string() + "\n"}) {
    order.push_back(chain.find(line));
    EXPECT_NE(order.back(), std::string::npos) << line << "\n" << chain;
  }
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << chain;
  EXPECT_EQ(chain.find("Error backing up app data"), std::string::npos) << chain;
  EXPECT_EQ(chain.find("Error restoring backup"), std::string::npos) << chain;
  EXPECT_EQ(chain.find(error_box_intro), std::string::npos) << chain;

  EXPECT_EQ(data_files(data()), before) << "every data file comes back byte for byte";
  EXPECT_TRUE(backup_names().empty()) << "a backup whose folders all came back goes";
}

// A reinstall that fails before the package goes leaves everything as it was: exit 1. (Which
// folders and temporary paths are refused, and why, is the unit tests' matter.)
TEST_F(Reinstall, AReinstallThatCannotCompleteRemovesNothing) {
  // The site offers no installer.exe, only an older one under another name.
  publish(old_version, options, {}, {"--site-file", bin_dir + "/pellora=older-setup.exe"});
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files(data());
  const fs::path reinstaller = sandbox_.path("reinstaller");
  burn_installer(reinstaller, old_version, options);
  const fs::path temporary = sandbox_.tmp() / full_name(old_version);

  const fs::path line_break = sandbox_.path("line\nbreak");
  fs::create_directories(line_break);
  std::map<std::string, std::string> temporary_with_line_break = published();
  temporary_with_line_break["TMPDIR"] = line_break.string();
  struct Case {
    std::string what;
    std::map<std::string, std::string> environment;
    std::string box_starts_with;
    std::string box_names;
  };
  const Case cases[] = {
      // Started by hand, or by a rescue program that did not pass the locations on; or only
      // some of them: the removal would take the others.
      {"no data folder handed over",
       {},
       no_backup,
       "LocalCache data folder was not handed over (TREVALON_APPDATA_LOCAL_CACHE_FOLDER"},
      {"a temporary folder with a line break", temporary_with_line_break, "The temporary folder ",
       " cannot be used, because its path holds a control character"},
      {"no installer on the site", published(),
       "Failed to download " + base_url() + "installer.exe due to error: ", "Not found (404)."},
      // Another file the vendor signed, with its signature, served as the installer.
      {"a signed file of another name as the installer", published(),
       "Failed to download " + base_url() + "installer.exe due to error: ",
       "The signature of installer.exe did not match: it was not signed with this application's "
       "key."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(wait_for_chain_to_end());
    fs::remove_all(temporary);
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
    EXPECT_TRUE(backup_names().empty());
  }
  EXPECT_TRUE(fs::is_empty(line_break));
}

// The site serves an installer that cannot start: the package is gone, the box says where the
// data are, a retry keeps that copy as it is, and the site's installer run by hand brings it
// back before the application first runs.
TEST_F(Reinstall, AfterAFailedStepTheOnlyCopyIsKeptAndTheNextInstallationRestoresIt) {
  const fs::path broken = sandbox_.path("broken.exe");
  std::ofstream(broken) << "not a program";
  publish_with_installer(old_version, broken);
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files(data());
  const fs::path reinstaller = sandbox_.path("reinstaller");
  burn_installer(reinstaller, old_version, options);
  const fs::path backup = backups() / "appdata.backup.1";
  const std::string kept = "A copy of the application's data is kept in " + backup.string() + ";";

  ProgramOutcome outcome = sandbox_.run(reinstaller.string(), {"TREVALON_INTERNAL_UPDATE_MODE=3"},
                                        60s, environment(published()));
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_NE(clipboard().find(kept), std::string::npos) << clipboard();
  EXPECT_NE(read_file(sandbox_.tmp() / full_name(old_version) / "pellora.log").find(kept),
            std::string::npos);
  EXPECT_FALSE(fs::exists(registration(old_version)));
  EXPECT_FALSE(fs::exists(data()));
  EXPECT_EQ(data_files(backup, {"Local", "Roaming", "LocalCache"}), before);

  // The same reinstall again: nothing left to copy, the copy there stays whole.
  outcome = sandbox_.run(reinstaller.string(), {"TREVALON_INTERNAL_UPDATE_MODE=3"}, 60s,
                         environment(published()));
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_EQ(clipboard().rfind(no_backup, 0), 0u) << clipboard();
  EXPECT_NE(clipboard().find(kept), std::string::npos) << clipboard();
  EXPECT_EQ(backup_names(), std::vector<std::string>{"appdata.backup.1"});
  EXPECT_EQ(data_files(backup, {"Local", "Roaming", "LocalCache"}), before);

  // The user installs from the site by hand.
  const fs::path by_hand = sandbox_.path("by-hand.exe");
  burn_installer(by_hand, old_version, options);
  outcome = sandbox_.run(by_hand.string(), {}, 60s, environment());
  EXPECT_EQ(outcome.code(), 0) << outcome.err;
  ASSERT_TRUE(wait_for_app()) << chain_err();
  ASSERT_TRUE(wait_for_chain_to_end());
  EXPECT_EQ(data_files(data()), before) << chain_err();
  EXPECT_TRUE(backup_names().empty());
}

// A folder that cannot take the data back: the application starts, the box names the folder and
// the copy, which stays for the next start; that start puts everything back.
TEST_F(Reinstall, ARestoreThatLeavesAFolderBehindKeepsTheBackupForTheNextStart) {
  publish(old_version, options);
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files(data());
  const fs::path backup = backups() / "appdata.backup.1";
  for (const auto& [from, to] : std::map<std::string, std::string>{
           {"LocalState", "Local"}, {"RoamingState", "Roaming"}, {"LocalCache", "LocalCache"}}) {
    fs::create_directories(backup);
    fs::copy(data() / from, backup / to, fs::copy_options::recursive);
  }
  std::ofstream(backup / "cmd_line.txt") << "--saved";
  std::ofstream(backup / "backup.complete");
  fs::permissions(backups(), fs::perms::owner_all);
  // A fresh installation's empty folders, one of which cannot be written to (a file in its
  // place, since permissions do not stop the superuser the tests may run as).
  fs::remove_all(data());
  fs::create_directories(data() / "RoamingState");
  fs::create_directories(data() / "LocalCache");
  std::ofstream(data() / "LocalState") << "in the way";

  const auto open = [&](const std::vector<std::string>& arguments) {
    const ProgramOutcome opened =
        sandbox_.run(bin_dir + "/open-uri", arguments, 10s, environment());
    EXPECT_EQ(opened.code(), 0) << opened.err;
    const auto app = wait_for_app();
    EXPECT_TRUE(wait_for_chain_to_end());
    return app;
  };
  const auto app =
      open({"trevalon-reinstall:open", "TREVALON_INTERNAL_UPDATE_MODE=4 " + backup.string()});
  ASSERT_TRUE(app) << chain_err();
  EXPECT_EQ(app->values("arg"), std::vector<std::string>{"--saved"});
  EXPECT_EQ(clipboard().rfind("The application's data could not all be put back: ", 0), 0u)
      << clipboard();
  EXPECT_NE(clipboard().find("A copy of the data is kept in " + backup.string() + ";"),
            std::string::npos);
  EXPECT_EQ(backup_names(), std::vector<std::string>{"appdata.backup.1"});
  EXPECT_EQ(data_files(backup, {"Local", "Roaming", "LocalCache"}), before);

  fs::remove(data() / "LocalState");
  fs::create_directories(data() / "LocalState");
  fs::remove(sandbox_.path("app-report"));
  ASSERT_TRUE(open({"trevalon-reinstall:open"})) << chain_err();
  EXPECT_EQ(data_files(data()), before) << chain_err();
  EXPECT_TRUE(backup_names().empty());
}

// A second reinstall started while the first one runs, at several points of its chain: it waits
// or stops with its box, and no byte is lost.
TEST_F(Reinstall, TwoReinstallsAtOnceNeverLoseTheData) {
  const fs::path installer = sandbox_.path("installer.exe");
  burn_installer(installer, old_version, options);
  publish_with_installer(old_version, installer);
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files(data());
  const fs::path reinstaller = sandbox_.path("reinstaller");
  burn_installer(reinstaller, old_version, options);
  const fs::path log = sandbox_.tmp() / full_name(old_version) / "pellora.log";

  for (const std::string moment :
       {"Reinstalling the app.", "A copy of the application's data is kept in",
        "Restoring backup from: "}) {
    SCOPED_TRACE(moment);
    fs::remove(log);
    fs::remove(sandbox_.path("app-report"));
    const auto start = [&] {
      return sandbox_.start(reinstaller.string(), {"TREVALON_INTERNAL_UPDATE_MODE=3"},
                            environment(published()));
    };
    const auto first = start();
    ASSERT_TRUE(wait_until([&] { return has(read_file(log), moment); }, 60s));
    const auto second = start();
    for (const auto& outcome : {first.wait(60s), second.wait(60s)}) {
      EXPECT_TRUE(outcome.code() == 0 || outcome.code() == 1) << outcome.code();
    }
    ASSERT_TRUE(wait_for_app());
    ASSERT_TRUE(wait_for_chain_to_end());
    EXPECT_EQ(data_files(data()), before) << read_file(log);
    EXPECT_TRUE(fs::exists(registration(old_version)));
    EXPECT_TRUE(backup_names().empty()) << read_file(log);
  }
}

}  // namespace
