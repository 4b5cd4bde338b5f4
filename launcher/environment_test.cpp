#include "launcher/environment.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace launcher {
namespace {

using platform::KnownFolder;
using platform::KnownFolderMode;

// Answers lookups from a table and records what the core did, in order.
class FakePlatform final : public platform::Platform {
 public:
  std::map<std::pair<KnownFolder, KnownFolderMode>, platform::KnownFolderPath> answers = {
      {{KnownFolder::local_app_data, KnownFolderMode::redirected}, {0, "/pkg/Local"}},
      {{KnownFolder::roaming_app_data, KnownFolderMode::redirected}, {0, "/pkg/Roaming"}},
      {{KnownFolder::local_app_data, KnownFolderMode::user}, {0, "/home/u/.local/share"}},
      {{KnownFolder::roaming_app_data, KnownFolderMode::user}, {0, "/home/u/.config"}},
  };
  std::map<std::string, std::string> variables;
  std::vector<std::string> events;

  platform::KnownFolderPath known_folder_path(KnownFolder folder, KnownFolderMode mode) override {
    events.push_back(std::string("lookup ") +
                     (folder == KnownFolder::local_app_data ? "local" : "roaming") +
                     (mode == KnownFolderMode::redirected ? " redirected" : " user"));
    return answers.at({folder, mode});
  }
  std::optional<std::string> get_variable(const std::string& name) override {
    const auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  }
  void set_variable(const std::string& name, const std::string& value) override {
    events.push_back("set " + name + "=" + value);
    variables[name] = value;
  }
  void remove_variable(const std::string& name) override {
    events.push_back("remove " + name);
    variables.erase(name);
  }
  void debug_output(std::string_view text) override {
    events.push_back("debug " + std::string(text));
  }
  void message_box(std::string_view text, std::string_view caption) override {
    events.push_back("box [" + std::string(caption) + "] " + std::string(text));
  }
};

TEST(PrepareEnvironment, SetsTheFourVariablesInOrderAndLeavesAppDataAlone) {
  FakePlatform fake;
  fake.variables = {{"LOCALAPPDATA", "inherited-local"}, {"USERPROFILE", "/home/u"}};
  prepare_environment(LauncherConfig{}, fake);
  EXPECT_EQ(fake.events, (std::vector<std::string>{
                             "lookup local redirected",
                             "set PACKAGE_LOCALAPPDATA=/pkg/Local",
                             "lookup roaming redirected",
                             "set PACKAGE_APPDATA=/pkg/Roaming",
                             "lookup local user",
                             "set USER_LOCALAPPDATA=/home/u/.local/share",
                             "lookup roaming user",
                             "set USER_APPDATA=/home/u/.config",
                             "set HOME=/home/u",
                         }));
  EXPECT_EQ(fake.variables["LOCALAPPDATA"], "inherited-local");
}

// The override sets LOCALAPPDATA and APPDATA from the redirected lookups; one that is missing is
// logged and skipped.
TEST(PrepareEnvironment, OverrideTakesTheRedirectedFoldersAndSkipsAMissingOne) {
  FakePlatform fake;
  fake.answers[{KnownFolder::local_app_data, KnownFolderMode::redirected}] = {0x80070002, ""};
  fake.variables = {{"PACKAGE_LOCALAPPDATA", "inherited"}, {"LOCALAPPDATA", "inherited-local"}};
  LauncherConfig config;
  config.override_appdata_vars = true;
  prepare_environment(config, fake);

  EXPECT_EQ(fake.variables["PACKAGE_LOCALAPPDATA"], "inherited");
  EXPECT_EQ(fake.variables["LOCALAPPDATA"], "inherited-local");
  EXPECT_EQ(fake.variables["PACKAGE_APPDATA"], "/pkg/Roaming");
  EXPECT_EQ(fake.variables["APPDATA"], "/pkg/Roaming");
  EXPECT_EQ(fake.variables["USER_LOCALAPPDATA"], "/home/u/.local/share");
  std::vector<std::string> debug_lines;
  for (const auto& event : fake.events) {
    if (event.rfind("debug ", 0) == 0) debug_lines.push_back(event);
    EXPECT_EQ(event.rfind("box ", 0), std::string::npos) << event;
  }
  EXPECT_EQ(debug_lines,
            (std::vector<std::string>{
                "debug Could not find redirected PACKAGE_LOCALAPPDATA. Virtualization might be "
                "off for that folder, ignoring.\n",
                "debug Could not find redirected LOCALAPPDATA. Virtualization might be off for "
                "that folder, ignoring.\n"}));
}

TEST(PrepareEnvironment, OtherLookupFailureShowsABoxAndGoesOn) {
  FakePlatform fake;
  fake.answers[{KnownFolder::roaming_app_data, KnownFolderMode::user}] = {0x80070005, ""};
  prepare_environment(LauncherConfig{}, fake);
  EXPECT_EQ(fake.variables.count("USER_APPDATA"), 0u);
  EXPECT_EQ(fake.events.back(),
            "box [Error converting known folder path to environment variable] Error 0x80070005");
  EXPECT_EQ(fake.variables["USER_LOCALAPPDATA"], "/home/u/.local/share");
}

TEST(PrepareEnvironment, HomeTakesTheWholeProfileStaysWithoutOneAndGoesWithAnEmptyOne) {
  FakePlatform fake;
  const std::string long_profile = "/home/" + std::string(600, 'p');
  fake.variables = {{"USERPROFILE", long_profile}, {"HOME", "/old"}};
  prepare_environment(LauncherConfig{}, fake);
  EXPECT_EQ(fake.variables["HOME"], long_profile);

  FakePlatform no_profile;
  no_profile.variables = {{"HOME", "/old"}};
  prepare_environment(LauncherConfig{}, no_profile);
  EXPECT_EQ(no_profile.variables["HOME"], "/old");

  FakePlatform empty_profile;
  empty_profile.variables = {{"USERPROFILE", ""}, {"HOME", "/old"}};
  prepare_environment(LauncherConfig{}, empty_profile);
  EXPECT_FALSE(empty_profile.variables.contains("HOME"));
}

}  // namespace
}  // namespace launcher
