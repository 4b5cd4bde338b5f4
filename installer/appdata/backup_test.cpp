// Backup and restore against the real POSIX file services on scratch folders; every other
// service is faked.

#include "installer/appdata/backup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "installer/appdata/restore.h"
#include "installer/core/state.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch_folder.h"

namespace pellora {
namespace {

namespace fs = std::filesystem;

class AppDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(path("tmp"));
    platform_.services().files = platform::backend_services().files;
    platform_.package.has_identity = true;
    platform_.package.local_folder_value = path("package/LocalState");
    platform_.package.roaming_folder_value = path("package/RoamingState");
    platform_.package.local_cache_folder_value = path("package/LocalCache");
  }

  std::string path(const std::string& relative) const { return scratch_.path(relative); }
  std::string temp_folder() const { return path("tmp/"); }
  std::string backup_folder() const { return path("tmp/appdata.backup"); }

  void write(const std::string& relative, const std::string& content) const {
    scratch_.write(relative, content);
  }
  std::string read(const std::string& relative) const { return scratch_.read(relative); }
  bool exists(const std::string& relative) const { return fs::exists(path(relative)); }

  // The application's data as the packaged instance published it.
  void publish_data_folders(const std::string& command_line) {
    write("data/Local/settings.json", "{\"theme\":\"dark\"}");
    write("data/Local/projects/one/file.txt", "one");
    write("data/Roaming/profile.ini", "name=x");
    write("data/Cache/thumbs.db", "thumbs");
    platform_.system.environment[appdata_local_variable] = path("data/Local");
    platform_.system.environment[appdata_roaming_variable] = path("data/Roaming");
    platform_.system.environment[appdata_local_cache_variable] = path("data/Cache");
    platform_.system.environment[original_command_line_variable] = command_line;
  }

  testing::ScratchFolder scratch_;
  testing::ScopedFakePlatform platform_;
};

TEST_F(AppDataTest, BackupCopiesEveryFolderAndTheCommandLine) {
  publish_data_folders("--open \"my file.txt\"");

  const std::string result = backup_appdata_under(temp_folder());

  EXPECT_EQ(result, backup_folder());
  EXPECT_EQ(platform_.debug.lines().front(), "Backing up AppData into: " + result + "\n");
  EXPECT_EQ(read("tmp/appdata.backup/Local/settings.json"), "{\"theme\":\"dark\"}");
  EXPECT_EQ(read("tmp/appdata.backup/Local/projects/one/file.txt"), "one");
  EXPECT_EQ(read("tmp/appdata.backup/Roaming/profile.ini"), "name=x");
  EXPECT_EQ(read("tmp/appdata.backup/LocalCache/thumbs.db"), "thumbs");
  EXPECT_EQ(read("tmp/appdata.backup/cmd_line.txt"), "--open \"my file.txt\"");
}

TEST_F(AppDataTest, AnEarlierBackupIsWipedFirst) {
  write("tmp/appdata.backup/Local/stale.txt", "old");
  write("tmp/appdata.backup/leftover/deep/x", "old");
  publish_data_folders("");

  ASSERT_EQ(backup_appdata_under(temp_folder()), backup_folder());

  EXPECT_FALSE(exists("tmp/appdata.backup/Local/stale.txt"));
  EXPECT_FALSE(exists("tmp/appdata.backup/leftover"));
  EXPECT_EQ(read("tmp/appdata.backup/Local/settings.json"), "{\"theme\":\"dark\"}");
}

TEST_F(AppDataTest, UnsetVariablesSkipTheirFolderAndLeaveAnEmptyCommandLine) {
  publish_data_folders("");
  platform_.system.environment.erase(appdata_local_cache_variable);
  platform_.system.environment.erase(original_command_line_variable);
  platform_.system.environment[appdata_roaming_variable] = "";

  ASSERT_EQ(backup_appdata_under(temp_folder()), backup_folder());

  EXPECT_FALSE(exists("tmp/appdata.backup/LocalCache"));
  EXPECT_FALSE(exists("tmp/appdata.backup/Roaming"));
  EXPECT_TRUE(exists("tmp/appdata.backup/Local/settings.json"));
  EXPECT_TRUE(exists("tmp/appdata.backup/cmd_line.txt"));
  EXPECT_EQ(read("tmp/appdata.backup/cmd_line.txt"), "");
}

TEST_F(AppDataTest, AMissingSourceFolderStopsTheLaterSteps) {
  publish_data_folders("--x");
  platform_.system.environment[appdata_local_variable] = path("data/Gone");

  std::string reason;
  EXPECT_EQ(backup_appdata_under(temp_folder(), &reason), "");

  EXPECT_EQ(reason, "SHFileOperationW(cp " + path("data/Gone") + ", " + backup_folder() +
                        "/Local) failed with error code: 0x2(fAnyOperationsAborted = 0)");
  EXPECT_TRUE(exists("tmp/appdata.backup/LocalCache/thumbs.db"));
  EXPECT_FALSE(exists("tmp/appdata.backup/Roaming"));
  EXPECT_FALSE(exists("tmp/appdata.backup/cmd_line.txt"));
  EXPECT_EQ(platform_.debug.lines().back(),
            "Error backing up app data: SHFileOperationW(cp " + path("data/Gone") + ", " +
                backup_folder() +
                "/Local) failed with error code: 0x2(fAnyOperationsAborted = 0). Will continue "
                "without backup.\n");
}

TEST_F(AppDataTest, AnUncreatableBackupFolderIsLoggedWithTheLastError) {
  publish_data_folders("");

  EXPECT_EQ(backup_appdata_under(path("no/such/")), "");

  EXPECT_EQ(platform_.debug.lines().back().rfind(
                "Error backing up app data: CreateDirectoryW failed with error: [3]: ", 0),
            0u);
}

TEST_F(AppDataTest, RestoreMergesIntoThePackageFoldersAndRestoresTheCommandLine) {
  write("tmp/appdata.backup/Local/same.txt", "from backup");
  write("tmp/appdata.backup/Local/sub/new.txt", "new");
  write("tmp/appdata.backup/Roaming/r.txt", "r");
  fs::create_directories(path("tmp/appdata.backup/LocalCache"));
  write("tmp/appdata.backup/cmd_line.txt", "--open \"my file.txt\"");
  write("package/LocalState/same.txt", "fresh install");
  write("package/LocalState/only-new.txt", "stays");
  fs::create_directories(path("package/RoamingState"));
  fs::create_directories(path("package/LocalCache"));
  forwarded_args = backup_folder();

  restore_appdata(backup_folder());

  EXPECT_EQ(read("package/LocalState/same.txt"), "from backup");
  EXPECT_EQ(read("package/LocalState/sub/new.txt"), "new");
  EXPECT_EQ(read("package/LocalState/only-new.txt"), "stays");
  EXPECT_EQ(read("package/RoamingState/r.txt"), "r");
  EXPECT_EQ(forwarded_args, "--open \"my file.txt\"");
  EXPECT_EQ(read("tmp/appdata.backup/Local/same.txt"), "from backup");
  EXPECT_TRUE(platform_.debug.lines().empty());
}

TEST_F(AppDataTest, AnEmptySavedCommandLineEmptiesTheForwardedArguments) {
  for (const char* folder : {"LocalCache", "Local", "Roaming"}) {
    fs::create_directories(path(std::string("tmp/appdata.backup/") + folder));
  }
  write("tmp/appdata.backup/cmd_line.txt", "");
  forwarded_args = backup_folder();

  restore_appdata(backup_folder());

  EXPECT_EQ(forwarded_args, "");
}

TEST_F(AppDataTest, AFolderTheBackupLeftOutIsSkippedAndTheRestRestored) {
  write("tmp/appdata.backup/Local/a.txt", "a");
  write("tmp/appdata.backup/Roaming/r.txt", "r");
  write("tmp/appdata.backup/cmd_line.txt", "--saved");
  forwarded_args = backup_folder();

  restore_appdata(backup_folder());

  EXPECT_EQ(read("package/LocalState/a.txt"), "a");
  EXPECT_EQ(read("package/RoamingState/r.txt"), "r");
  EXPECT_EQ(forwarded_args, "--saved");
  EXPECT_EQ(platform_.debug.lines(),
            std::vector<std::string>{"The backup holds no LocalCache folder, nothing to restore "
                                     "there.\n"});
}

TEST_F(AppDataTest, AFailedRestoreNeverPassesTheBackupPathToTheApplication) {
  // Nothing of the backup is there: the application starts with no arguments, not with the
  // restore's parameter.
  forwarded_args = backup_folder();
  restore_appdata(backup_folder());
  EXPECT_EQ(forwarded_args, "");
  EXPECT_EQ(platform_.debug.lines().back(),
            "Error restoring backup: The system cannot find the path specified.. Will continue "
            "without restoring.\n");

  // A folder that cannot be copied fails alone; the saved command line still comes back.
  write("tmp/appdata.backup/Local/a.txt", "a");
  write("tmp/appdata.backup/Roaming/r.txt", "r");
  write("tmp/appdata.backup/cmd_line.txt", "--saved");
  write("package/LocalState", "a file where the folder should be");
  forwarded_args = backup_folder();
  restore_appdata(backup_folder());
  EXPECT_EQ(read("package/RoamingState/r.txt"), "r");
  EXPECT_EQ(forwarded_args, "--saved");
}

TEST_F(AppDataTest, ABackupOfNoFolderIsNoBackupAndLeavesAnEarlierOneAlone) {
  write("tmp/appdata.backup/Local/earlier.txt", "earlier");
  platform_.system.environment[original_command_line_variable] = "--x";
  platform_.system.environment[appdata_roaming_variable] = "";

  std::string reason;
  EXPECT_EQ(backup_appdata_under(temp_folder(), &reason), "");

  EXPECT_EQ(reason,
            "no data folder was handed over (TREVALON_APPDATA_LOCAL_FOLDER, "
            "TREVALON_APPDATA_ROAMING_FOLDER and TREVALON_APPDATA_LOCAL_CACHE_FOLDER are unset or "
            "empty)");
  EXPECT_EQ(read("tmp/appdata.backup/Local/earlier.txt"), "earlier");
}

}  // namespace
}  // namespace pellora
