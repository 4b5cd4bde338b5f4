// Backup and restore against the real file services on a scratch folder; every other service is
// faked.

#include "installer/appdata/backup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "installer/appdata/restore.h"
#include "installer/core/state.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

namespace fs = std::filesystem;

class AppDataTest : public ::testing::Test {
 protected:
  AppDataTest() {
    fs::create_directories(path("tmp"));
    fake.package.has_identity = true;
    fake.package.local_folder_value = path("package/LocalState");
    fake.package.roaming_folder_value = path("package/RoamingState");
    fake.package.local_cache_folder_value = path("package/LocalCache");
  }

  std::string path(const std::string& relative) const { return fake.scratch.path(relative); }
  void write(const std::string& relative, const std::string& content) const {
    fake.scratch.write(relative, content);
  }
  std::string read(const std::string& relative) const { return fake.scratch.read(relative); }
  bool exists(const std::string& relative) const { return fs::exists(path(relative)); }

  // The application's data as the packaged instance published it.
  void publish_data_folders(const std::string& command_line) {
    write("data/Local/settings.json", "{\"theme\":\"dark\"}");
    write("data/Roaming/profile.ini", "name=x");
    write("data/Cache/thumbs.db", "thumbs");
    fake.system.environment[appdata_local_variable] = path("data/Local");
    fake.system.environment[appdata_roaming_variable] = path("data/Roaming");
    fake.system.environment[appdata_local_cache_variable] = path("data/Cache");
    fake.system.environment[original_command_line_variable] = command_line;
  }

  testing::ScopedFakePlatform fake;
  const std::string backup = path("tmp/appdata.backup");
};

TEST_F(AppDataTest, BackupReplacesAnEarlierOneWithEveryFolderAndTheCommandLine) {
  write("tmp/appdata.backup/Local/stale.txt", "old");
  write("tmp/appdata.backup/leftover/deep/x", "old");
  publish_data_folders("--open \"my file.txt\"");

  EXPECT_EQ(backup_appdata_under(path("tmp/")), backup);

  EXPECT_EQ(fake.debug.lines().front(), "Backing up AppData into: " + backup + "\n");
  EXPECT_EQ(read("tmp/appdata.backup/Local/settings.json"), "{\"theme\":\"dark\"}");
  EXPECT_EQ(read("tmp/appdata.backup/Roaming/profile.ini"), "name=x");
  EXPECT_EQ(read("tmp/appdata.backup/LocalCache/thumbs.db"), "thumbs");
  EXPECT_EQ(read("tmp/appdata.backup/cmd_line.txt"), "--open \"my file.txt\"");
  EXPECT_FALSE(exists("tmp/appdata.backup/Local/stale.txt"));
  EXPECT_FALSE(exists("tmp/appdata.backup/leftover"));
}

TEST_F(AppDataTest, UnsetVariablesSkipTheirFolderAndLeaveAnEmptyCommandLine) {
  publish_data_folders("");
  fake.system.environment.erase(appdata_local_cache_variable);
  fake.system.environment.erase(original_command_line_variable);
  fake.system.environment[appdata_roaming_variable] = "";

  ASSERT_EQ(backup_appdata_under(path("tmp/")), backup);

  EXPECT_FALSE(exists("tmp/appdata.backup/LocalCache"));
  EXPECT_FALSE(exists("tmp/appdata.backup/Roaming"));
  EXPECT_TRUE(exists("tmp/appdata.backup/Local/settings.json"));
  EXPECT_TRUE(exists("tmp/appdata.backup/cmd_line.txt"));
  EXPECT_EQ(read("tmp/appdata.backup/cmd_line.txt"), "");
}

TEST_F(AppDataTest, AFailedCopyOrFolderStopsTheBackupWithItsReason) {
  publish_data_folders("--x");
  fake.system.environment[appdata_local_variable] = path("data/Gone");

  std::string reason;
  EXPECT_EQ(backup_appdata_under(path("tmp/"), &reason), "");

  const std::string expected = "SHFileOperationW(cp " + path("data/Gone") + ", " + backup +
                               "/Local) failed with error code: 0x2(fAnyOperationsAborted = 0)";
  EXPECT_EQ(reason, expected);
  EXPECT_TRUE(exists("tmp/appdata.backup/LocalCache/thumbs.db"));
  EXPECT_FALSE(exists("tmp/appdata.backup/Roaming"));
  EXPECT_FALSE(exists("tmp/appdata.backup/cmd_line.txt"));
  EXPECT_EQ(fake.debug.lines().back(),
            "Error backing up app data: " + expected + ". Will continue without backup.\n");

  EXPECT_EQ(backup_appdata_under(path("no/such/")), "");
  EXPECT_EQ(fake.debug.lines().back().rfind(
                "Error backing up app data: CreateDirectoryW failed with error: [3]: ", 0),
            0u);
}

// The backup leaves a folder out when its variable was empty (LocalCache, restored first, here);
// the rest merges into the package's folders, an empty saved folder among them.
TEST_F(AppDataTest, AFolderTheBackupLeftOutIsSkippedAndTheRestRestored) {
  write("tmp/appdata.backup/Local/same.txt", "from backup");
  fs::create_directories(path("tmp/appdata.backup/Roaming"));
  write("package/LocalState/same.txt", "fresh install");
  write("package/LocalState/only-new.txt", "stays");
  fs::create_directories(path("package/RoamingState"));
  for (const std::string command_line : {"--open \"my file.txt\"", ""}) {
    write("tmp/appdata.backup/cmd_line.txt", command_line);
    forwarded_args = backup;

    restore_appdata(backup);

    EXPECT_EQ(forwarded_args, command_line);
  }
  EXPECT_EQ(read("package/LocalState/same.txt"), "from backup");
  EXPECT_EQ(read("package/LocalState/only-new.txt"), "stays");
  EXPECT_EQ(fake.debug.lines(),
            std::vector<std::string>(
                2, "The backup holds no LocalCache folder, nothing to restore there.\n"));
}

TEST_F(AppDataTest, AFailedRestoreNeverPassesTheBackupPathToTheApplication) {
  // Nothing of the backup is there: the application starts with no arguments, not with the
  // restore's parameter.
  forwarded_args = backup;
  restore_appdata(backup);
  EXPECT_EQ(forwarded_args, "");
  EXPECT_EQ(fake.debug.lines().back(),
            "Error restoring backup: The system cannot find the path specified.. Will continue "
            "without restoring.\n");

  // A folder that cannot be copied fails alone; the saved command line still comes back.
  write("tmp/appdata.backup/Local/a.txt", "a");
  write("tmp/appdata.backup/Roaming/r.txt", "r");
  write("tmp/appdata.backup/cmd_line.txt", "--saved");
  write("package/LocalState", "a file where the folder should be");
  forwarded_args = backup;
  restore_appdata(backup);
  EXPECT_EQ(read("package/RoamingState/r.txt"), "r");
  EXPECT_EQ(forwarded_args, "--saved");
}

TEST_F(AppDataTest, ABackupOfNoFolderIsNoBackupAndLeavesAnEarlierOneAlone) {
  write("tmp/appdata.backup/Local/earlier.txt", "earlier");
  fake.system.environment[original_command_line_variable] = "--x";
  fake.system.environment[appdata_roaming_variable] = "";

  std::string reason;
  EXPECT_EQ(backup_appdata_under(path("tmp/"), &reason), "");

  EXPECT_EQ(reason,
            "no data folder was handed over (TREVALON_APPDATA_LOCAL_FOLDER, "
            "TREVALON_APPDATA_ROAMING_FOLDER and TREVALON_APPDATA_LOCAL_CACHE_FOLDER are unset or "
            "empty)");
  EXPECT_EQ(read("tmp/appdata.backup/Local/earlier.txt"), "earlier");
}

}  // namespace
}  // namespace pellora
