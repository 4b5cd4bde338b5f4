// The reinstall chain end to end: an installed application whose site publishes an escape hatch
// that starts the installer in the reinstall mode. The chain backs the data up, removes the
// package, hands over to the site's installer, installs again, restores the data and starts the
// application with the command line it had; a backup that cannot be made removes nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "installer/platform/backend.h"
#include "installer/platform/deployment.h"
#include "standin/command_line_rules.h"
#include "standin/publisher_id.h"
#include "tests/support/e2e_site.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pellora::testing::error_box_intro;
using pellora::testing::ProgramOutcome;
using pellora::testing::read_file;
using pellora::testing::SiteTest;

const std::string bin_dir = TREVALON_BIN_DIR;
constexpr char name[] = "Trevalon.Reinstall";
constexpr char publisher[] = "CN=Trevalon Reinstall, O=Quelmarin Labs, C=FR";
constexpr char scheme[] = "trevalon-reinstall";
constexpr char launch_uri[] = "trevalon-reinstall:open";
constexpr char certificate[] = "Reinstall.cer";
constexpr char old_version[] = "1.0.0.0";
constexpr char new_version[] = "1.1.0.0";
constexpr char no_backup[] = "The application's data could not be backed up";

// Every file under the three data folders: path relative to the family's folder -> content.
using DataFiles = std::map<std::string, std::string>;

// The paths that are missing, extra or different in `actual`, one a line; empty when equal.
std::string differences(const DataFiles& expected, const DataFiles& actual) {
  std::string text;
  for (const auto& [path, content] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      text += "missing " + path + "\n";
    } else if (found->second != content) {
      text += "changed " + path + "\n";
    }
  }
  for (const auto& entry : actual) {
    if (!expected.contains(entry.first)) text += "extra " + entry.first + "\n";
  }
  return text;
}

class Reinstall : public SiteTest {
 protected:
  Reinstall() : SiteTest({name, publisher, scheme, launch_uri, certificate}, 120s) {}

  fs::path data() const { return sandbox_.root() / "data" / family_name(); }

  // pellora burned for `version` of this site, with aggressive updates: a packaged copy whose
  // escape hatch runs then starts nothing itself, so the application starts once, at the end.
  void burn_installer(const fs::path& out, const std::string& version, bool escape_hatch) const {
    std::vector<std::string> command = burn_command(out, version);
    command.insert(command.end(), {"--app-exe", "bin/app", "--certificate", certificate,
                                   "--installer", "installer.exe", "--aggressive-updates"});
    if (escape_hatch) command.push_back("--escape-hatch");
    run_tool(command);
  }

  // Publishes `version`: the packaged installer as the entry executable, the probe as the
  // application, and `extra` make-site options.
  void publish(const std::string& version, bool escape_hatch,
               const std::vector<std::string>& extra = {}) const {
    const fs::path stage = sandbox_.path("stage-" + version);
    fs::create_directories(stage);
    burn_installer(stage / "updatecheck.exe", version, escape_hatch);
    fs::copy_file(bin_dir + "/standin-probe", stage / "app");
    strip(stage / "updatecheck.exe");
    strip(stage / "app");
    std::vector<std::string> command = make_site_command(version, stage / "updatecheck.exe");
    command.insert(command.end(), {"--file", (stage / "app").string() + "=bin/app"});
    command.insert(command.end(), extra.begin(), extra.end());
    run_tool(command);
    trust_site_certificate();
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

  // Every file under `base`'s folders, named as under the package's data folder: the map
  // gives each folder's name under `base` and the name it stands for.
  DataFiles data_files(const fs::path& base,
                       const std::map<std::string, std::string>& folders) const {
    DataFiles files;
    for (const auto& [folder, package_folder] : folders) {
      if (!fs::exists(base / folder)) continue;
      for (const auto& entry : fs::recursive_directory_iterator(base / folder)) {
        if (entry.is_regular_file()) {
          const fs::path inside = fs::relative(entry.path(), base / folder);
          files[(fs::path(package_folder) / inside).string()] = read_file(entry.path());
        }
      }
    }
    return files;
  }
  DataFiles data_files() const {
    return data_files(data(), {{"LocalState", "LocalState"},
                               {"RoamingState", "RoamingState"},
                               {"LocalCache", "LocalCache"}});
  }

  // The application's arguments once it has reported.
  std::optional<std::vector<std::string>> wait_for_app_arguments() const {
    const auto report = wait_for_app();
    if (!report) return std::nullopt;
    const std::vector<std::string> paths = report->values("installed_path");
    if (!paths.empty()) app_installed_path_ = paths.back();
    return report->values("arg");
  }

  mutable std::string app_installed_path_;
};

TEST_F(Reinstall, TheEscapeHatchReinstallsAndTheDataAndCommandLineSurvive) {
  publish(old_version, true);
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files();
  ASSERT_EQ(before.size(), 7u);

  // The copy of the installer the escape hatch starts, burned like the installed one.
  const fs::path reinstaller = sandbox_.path("reinstaller");
  burn_installer(reinstaller, old_version, false);
  // The site now offers a new version whose packaged installer has no escape hatch, its
  // installer, and the escape hatch with the program to run and its arguments in the query.
  const fs::path stage = sandbox_.path("stage-site");
  fs::create_directories(stage);
  burn_installer(stage / "installer.exe", new_version, false);
  const std::string hatch_url =
      base_url() + "hatch.exe?" + reinstaller.string() + "&TREVALON_INTERNAL_UPDATE_MODE=3";
  publish(new_version, false,
          {"--installer-name", "installer.exe", "--site-file",
           (stage / "installer.exe").string() + "=installer.exe", "--site-file",
           bin_dir + "/hatch-probe=hatch.exe", "--metadata",
           "app.windows.manifests.msix.update-escape-hatch.exe=" + hatch_url, "--metadata",
           "app.windows.manifests.msix.update-escape-hatch.run-if=always"});

  const std::vector<std::string> arguments = {"--open", "my project.trv", "a \"quoted\" word"};
  const ProgramOutcome outcome = sandbox_.run((installed(old_version) / "updatecheck.exe").string(),
                                              arguments, 60s, environment());
  ASSERT_EQ(outcome.code(), 0) << outcome.err;
  EXPECT_NE(outcome.err.find("Running the escape hatch: " + hatch_url + "\n"), std::string::npos)
      << outcome.err;

  // packaged copy -> escape hatch -> reinstaller (backup, removal) -> site installer (install)
  // -> launch URI -> new packaged copy (restore) -> application
  const auto started_with = wait_for_app_arguments();
  ASSERT_TRUE(started_with) << chain_err();
  ASSERT_TRUE(wait_for_chain_to_end());
  EXPECT_EQ(*started_with, arguments) << chain_err();
  EXPECT_EQ(app_installed_path_, installed(new_version).string());
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

  EXPECT_EQ(differences(before, data_files()), "") << "every data file comes back byte for byte";
  // The copy in between held the same bytes (the removal took the package's folders away).
  EXPECT_EQ(differences(before, data_files(backup, {{"Local", "LocalState"},
                                                    {"Roaming", "RoamingState"},
                                                    {"LocalCache", "LocalCache"}})),
            "");
  EXPECT_EQ(read_file(backup / "cmd_line.txt"), standin::join_command_line(arguments));
}

TEST_F(Reinstall, ABackupThatCannotBeMadeRemovesNothing) {
  publish(old_version, false);
  install_from_site();
  fill_data_folders();
  const DataFiles before = data_files();
  const fs::path reinstaller = sandbox_.path("reinstaller");
  burn_installer(reinstaller, old_version, false);

  // As the escape hatch would start it, with the locations the packaged copy published.
  std::map<std::string, std::string> published = {
      {"TREVALON_APPDATA_LOCAL_FOLDER", (data() / "LocalState").string()},
      {"TREVALON_APPDATA_ROAMING_FOLDER", (data() / "RoamingState").string()},
      {"TREVALON_APPDATA_LOCAL_CACHE_FOLDER", (data() / "LocalCache").string()},
      {"TREVALON_INTERNAL_ORIGINAL_COMMAND_LINE", "--open x"}};
  const auto untouched = [&](const std::string& what) {
    EXPECT_TRUE(fs::exists(registration(old_version))) << what;
    EXPECT_TRUE(fs::exists(installed(old_version) / "updatecheck.exe")) << what;
    EXPECT_EQ(differences(before, data_files()), "") << what;
  };

  // A data folder that is not there: the copy fails after the cache was copied.
  std::map<std::string, std::string> missing_folder = published;
  missing_folder["TREVALON_APPDATA_LOCAL_FOLDER"] = (data() / "NoSuchState").string();
  ProgramOutcome outcome = sandbox_.run(reinstaller.string(), {"TREVALON_INTERNAL_UPDATE_MODE=3"},
                                        60s, environment(missing_folder));
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_NE(outcome.err.find(error_box_intro + no_backup), std::string::npos) << outcome.err;
  EXPECT_EQ(clipboard().rfind(no_backup, 0), 0u) << clipboard();
  EXPECT_NE(clipboard().find("SHFileOperationW(cp " + (data() / "NoSuchState").string()),
            std::string::npos)
      << clipboard();
  // The flow stops right there: no metadata, no removal, no hand-over.
  EXPECT_EQ(outcome.err.find("Downloading metadata"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.find("Launching new installer"), std::string::npos) << outcome.err;
  untouched("missing data folder");

  // A backup folder that cannot be created: the installer's temporary folder is a file.
  ASSERT_TRUE(wait_for_chain_to_end());
  const fs::path temporary = sandbox_.tmp() / full_name(old_version);
  fs::remove_all(temporary);
  std::ofstream(temporary) << "in the way";
  outcome = sandbox_.run(reinstaller.string(), {"TREVALON_INTERNAL_UPDATE_MODE=3"}, 60s,
                         environment(published));
  EXPECT_EQ(outcome.code(), 1) << outcome.err;
  EXPECT_NE(clipboard().find(temporary.string() + " cannot be used, because it is not a folder"),
            std::string::npos)
      << clipboard();
  EXPECT_EQ(outcome.err.find("Downloading metadata"), std::string::npos) << outcome.err;
  untouched("backup folder in the way");
}

}  // namespace
