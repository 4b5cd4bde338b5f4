// Backup, restore and the backups' lock against the real file services on a scratch folder;
// every other service is faked.

#include "installer/appdata/backup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "installer/appdata/backup_store.h"
#include "installer/appdata/restore.h"
#include "installer/core/state.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

namespace fs = std::filesystem;

class AppDataTest : public ::testing::Test {
 protected:
  AppDataTest() {
    fs::create_directories(path("family"));
    fake.package.has_identity = true;
    fake.package.local_folder_value = path("package/LocalState");
    fake.package.roaming_folder_value = path("package/RoamingState");
    fake.package.local_cache_folder_value = path("package/LocalCache");
  }

  // `relative` spelled with "/", in the system's separators.
  std::string path(const std::string& relative) const {
    return fake.scratch.path(fs::path(relative).make_preferred().string());
  }
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

  // A complete backup as a reinstall leaves it.
  void make_backup(const std::string& name, const std::string& local_file,
                   const std::string& content) const {
    write("family/" + name + "/Local/" + local_file, content);
    fs::create_directories(path("family/" + name + "/Roaming"));
    fs::create_directories(path("family/" + name + "/LocalCache"));
    write("family/" + name + "/cmd_line.txt", "");
    write("family/" + name + "/" + backup_complete_marker, "");
  }

  testing::ScopedFakePlatform fake;
  const std::string family = path("family") + fake.system.path_separator();
};

TEST_F(AppDataTest, ABackupIsANewNumberedFolderMarkedCompleteLast) {
  make_backup("appdata.backup.7", "earlier.txt", "earlier");
  publish_data_folders("--open \"my file.txt\"");
  const std::string backup = next_backup_path(family);
  ASSERT_EQ(backup, path("family/appdata.backup.8"));

  EXPECT_EQ(backup_appdata_into(backup), backup);

  EXPECT_EQ(fake.debug.lines().front(), "Backing up AppData into: " + backup + "\n");
  EXPECT_EQ(read("family/appdata.backup.8/Local/settings.json"), "{\"theme\":\"dark\"}");
  EXPECT_EQ(read("family/appdata.backup.8/Roaming/profile.ini"), "name=x");
  EXPECT_EQ(read("family/appdata.backup.8/LocalCache/thumbs.db"), "thumbs");
  EXPECT_EQ(read("family/appdata.backup.8/cmd_line.txt"), "--open \"my file.txt\"");
  EXPECT_EQ(read("family/appdata.backup.7/Local/earlier.txt"), "earlier");
  EXPECT_EQ(complete_backups(family),
            (std::vector<std::string>{path("family/appdata.backup.7"), backup}));
  EXPECT_EQ(backup_name_in(family, backup), "appdata.backup.8");
  EXPECT_EQ(backup_name_in(family, path("family/other")), "");
  EXPECT_EQ(package_family_name("App_1.0.0.0_arm64__abc"), "App_abc");
}

// The removal deletes every data folder: a backup without one of them is no backup, refused
// before anything is written. An incomplete backup goes with the next reinstall; complete ones
// stay.
TEST_F(AppDataTest, APartialHandoverOrAFailedCopyLeavesNoCompleteBackup) {
  make_backup("appdata.backup.1", "earlier.txt", "earlier");
  for (const char* variable : {appdata_local_cache_variable, appdata_roaming_variable}) {
    publish_data_folders("--x");
    fake.system.environment[variable] = "";
    std::string reason;
    EXPECT_EQ(backup_appdata_into(path("family/appdata.backup.2"), &reason), "");
    EXPECT_NE(reason.find(" data folder was not handed over (" + std::string(variable) +
                          " is unset or empty)"),
              std::string::npos)
        << reason;
    EXPECT_FALSE(exists("family/appdata.backup.2"));
  }

  publish_data_folders("--x");
  fake.system.environment[appdata_local_variable] = path("data/Gone");
  std::string reason;
  EXPECT_EQ(backup_appdata_into(path("family/appdata.backup.2"), &reason), "");
  EXPECT_EQ(
      reason.rfind("the application's Local data folder " + path("data/Gone") + " cannot be read: ",
                   0),
      0u)
      << reason;

  // What a run cut short left is never written into, and goes with the next reinstall.
  publish_data_folders("--x");
  write("family/appdata.backup.2/LocalCache/thumbs.db", "partial");
  EXPECT_EQ(backup_appdata_into(path("family/appdata.backup.2"), &reason), "");
  EXPECT_EQ(fake.debug.lines().back().rfind(
                "Error backing up app data: CreateDirectoryW failed with error: [183]: ", 0),
            0u);
  EXPECT_EQ(read("family/appdata.backup.2/LocalCache/thumbs.db"), "partial");
  remove_incomplete_backups(family);
  EXPECT_FALSE(exists("family/appdata.backup.2"));
  EXPECT_EQ(complete_backups(family), std::vector<std::string>{path("family/appdata.backup.1")});
}

// Backups come back oldest first, so the newest copy of a file wins; each that came back whole
// goes. A folder that does not come back waits in its backup and every newer one, and the text
// says where.
TEST_F(AppDataTest, CompleteBackupsAreRestoredInOrderAndKeptUntilEveryFolderIsBack) {
  make_backup("appdata.backup.2", "same.txt", "older");
  make_backup("appdata.backup.10", "same.txt", "newer");
  write("family/appdata.backup.11/Local/unfinished.txt", "x");
  write("package/LocalState/only-new.txt", "stays");
  write("package/RoamingState", "a file where the folder should be");

  BackupsRestore restore = restore_complete_backups(family);
  EXPECT_EQ(restore.restored, 0);
  EXPECT_EQ(restore.failed_backup, path("family/appdata.backup.2"));
  EXPECT_EQ(restore.outcome.failed_folder, path("package/RoamingState"));
  EXPECT_EQ(complete_backups(family).size(), 2u);
  const std::string text = restore_failure_text(restore.failed_backup, restore.outcome);
  EXPECT_EQ(text.rfind("The application's data could not all be put back: " +
                           path("package/RoamingState") + " could not be restored (",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("A copy of the data is kept in " + path("family/appdata.backup.2") + ";"),
            std::string::npos);

  // The folders that came back, from both backups, are not put back again over what the
  // application wrote since.
  EXPECT_EQ(read("package/LocalState/same.txt"), "newer");
  write("package/LocalState/same.txt", "written since");
  fs::remove(path("package/RoamingState"));
  fs::create_directories(path("package/RoamingState"));
  restore = restore_complete_backups(family);
  EXPECT_EQ(restore.restored, 2);
  EXPECT_TRUE(restore.outcome.complete());
  EXPECT_EQ(read("package/LocalState/same.txt"), "written since");
  EXPECT_EQ(read("package/LocalState/only-new.txt"), "stays");
  EXPECT_TRUE(complete_backups(family).empty());
  EXPECT_TRUE(exists("family/appdata.backup.11/Local/unfinished.txt"));
}

// A backup kept elsewhere: a folder it lacks is skipped, one that fails fails alone, and the
// application gets the saved command line or none, never the backup's path.
TEST_F(AppDataTest, ABackupElsewhereIsRestoredFolderByFolderWithItsCommandLine) {
  const std::string backup = path("elsewhere");
  forwarded_args = backup;
  EXPECT_TRUE(restore_appdata(backup).complete());
  EXPECT_EQ(forwarded_args, "");
  EXPECT_EQ(fake.debug.lines().back().rfind("Error restoring backup: ", 0), 0u);

  write("elsewhere/Local/a.txt", "a");
  write("elsewhere/Roaming/r.txt", "r");
  write("elsewhere/cmd_line.txt", "--saved");
  // A package folder that cannot be made: a file where its parent should be.
  write("package/blocker", "a file");
  fake.package.local_folder_value = path("package/blocker/LocalState");
  forwarded_args = backup;
  const RestoreOutcome outcome = restore_appdata(backup);
  EXPECT_EQ(outcome.failed_folder, path("package/blocker/LocalState"));
  EXPECT_EQ(read("package/RoamingState/r.txt"), "r");
  EXPECT_EQ(forwarded_args, "--saved");
  EXPECT_NE(fake.debug.text().find("The backup holds no LocalCache folder"), std::string::npos);
}

// One holder at a time; a lock handed on is kept for its heir alone for a while, and a holder
// that ends frees it.
TEST_F(AppDataTest, TheReinstallLockIsHeldAndHandedOnToOneHeir) {
  bool busy = false;
  auto first = ReinstallLock::take(family, "", 0, busy);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ReinstallLock::take(family, "", 1000, busy), nullptr);
  EXPECT_TRUE(busy);
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>(4, 250));

  first->hand_over("appdata.backup.3");
  first.reset();
  EXPECT_EQ(ReinstallLock::take(family, "", 0, busy), nullptr);
  EXPECT_EQ(ReinstallLock::take(family, "appdata.backup.4", 0, busy), nullptr);
  auto heir = ReinstallLock::take(family, "appdata.backup.3", 0, busy);
  ASSERT_NE(heir, nullptr);
  heir.reset();
  EXPECT_NE(ReinstallLock::take(family, "", 0, busy), nullptr);

  // Its heir never came.
  std::ofstream(path("family/reinstall.lock"), std::ios::trunc) << "handed appdata.backup.3 1000";
  EXPECT_NE(ReinstallLock::take(family, "", 0, busy), nullptr);
}

}  // namespace
}  // namespace pellora
