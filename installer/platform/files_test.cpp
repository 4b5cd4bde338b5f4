// The file services' contract, run against the backend that is built, on scratch folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/platform/backend.h"
#include "tests/support/platform_error.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform {
namespace {

namespace fs = std::filesystem;
using pellora::testing::error_code_of;

System& system() { return *backend_services().system; }

class FilesContract : public ::testing::Test {
 protected:
  std::string path(const std::string& relative) const { return scratch_.path(relative); }
  void write(const std::string& relative, const std::string& content) const {
    scratch_.write(relative, content);
  }
  std::string read(const std::string& relative) const { return scratch_.read(relative); }

  bool exists(const std::string& relative) const {
    return fs::exists(fs::symlink_status(path(relative)));
  }

  pellora::testing::ScratchFolder scratch_;
  Files& files_ = *backend_services().files;
};

TEST_F(FilesContract, CopyOfAFolderToANewDestinationBecomesThatDestination) {
  write("source/a.txt", "alpha");
  write("source/nested/deeper/b.bin", std::string("\0\1\2", 3));
  fs::create_directories(path("source/empty"));

  const ShellFileOperationResult result = files_.shell_copy(path("source"), path("copy"));

  EXPECT_EQ(result.result, 0);
  EXPECT_FALSE(result.any_aborted);
  EXPECT_EQ(read("copy/a.txt"), "alpha");
  EXPECT_EQ(read("copy/nested/deeper/b.bin"), std::string("\0\1\2", 3));
  EXPECT_TRUE(fs::is_directory(path("copy/empty")));
  EXPECT_FALSE(exists("copy/source"));
  // Into an existing folder, the copy keeps its name.
  EXPECT_EQ(files_.shell_copy(path("source"), path("copy")).result, 0);
  EXPECT_EQ(read("copy/source/a.txt"), "alpha");
}

TEST_F(FilesContract, WildCardMergesIntoTheDestinationOverwritingSameNamedFiles) {
  write("backup/name.txt", "from backup");
  write("backup/nested/inner.txt", "inner");
  write("target/name.txt", "old");
  write("target/keep.txt", "keep");

  EXPECT_EQ(files_.shell_copy(path("backup/*"), path("target")).result, 0);

  EXPECT_EQ(read("target/name.txt"), "from backup");
  EXPECT_EQ(read("target/nested/inner.txt"), "inner");
  EXPECT_EQ(read("target/keep.txt"), "keep");
  EXPECT_EQ(read("backup/name.txt"), "from backup");
}

TEST_F(FilesContract, AMissingSourceOrACopyIntoItselfFailsWithoutCreatingAnything) {
  const ShellFileOperationResult plain = files_.shell_copy(path("missing"), path("target"));
  const ShellFileOperationResult wild = files_.shell_copy(path("missing/*"), path("target"));

  EXPECT_EQ(plain.result, 2);
  EXPECT_NE(wild.result, 0);
  EXPECT_FALSE(exists("target"));

  // Nor may a folder be copied into itself.
  write("folder/a.txt", "a");

  EXPECT_NE(files_.shell_copy(path("folder"), path("folder/inner")).result, 0);
  EXPECT_NE(files_.shell_copy(path("folder/*"), path("folder")).result, 0);

  EXPECT_EQ(read("folder/a.txt"), "a");
}

TEST_F(FilesContract, DeleteRemovesATree) {
  write("tree/a/b/c.txt", "c");
  write("tree/d.txt", "d");

  const ShellFileOperationResult result = files_.shell_delete(path("tree"));

  EXPECT_EQ(result.result, 0);
  EXPECT_FALSE(exists("tree"));
  EXPECT_NE(files_.shell_delete(path("tree")).result, 0);
}

// The reinstall lock's two services: a folder's names, and a file one holder at a time has open
// (another open of it fails while the holder lives), whose content the holder replaces whole.
TEST_F(FilesContract, FoldersListTheirNamesAndAHeldFileHasOneHolder) {
  write("folder/a.txt", "a");
  fs::create_directories(path("folder/sub"));
  std::vector<std::string> names;
  ASSERT_TRUE(files_.list_folder(path("folder"), names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub"}));
  EXPECT_FALSE(files_.list_folder(path("missing"), names));

  std::unique_ptr<HeldFile> held = files_.hold_file(path("folder/lock"));
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(held->replace("held 1 with a longer text"));
  EXPECT_TRUE(held->replace("held 2"));
  EXPECT_EQ(held->read(), "held 2");
  EXPECT_EQ(files_.hold_file(path("folder/lock")), nullptr);
  const uint32_t error = system().last_error();
  EXPECT_TRUE(error == win32::sharing_violation || error == win32::lock_violation) << error;
  held.reset();
  held = files_.hold_file(path("folder/lock"));
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->read(), "held 2");
}

TEST_F(FilesContract, CreateDirectoryAndCopyFileSetTheWindowsLastError) {
  EXPECT_TRUE(files_.create_directory(path("made")));
  EXPECT_FALSE(files_.create_directory(path("made")));
  EXPECT_EQ(system().last_error(), win32::already_exists);
  EXPECT_FALSE(files_.create_directory(path("missing/child")));
  EXPECT_EQ(system().last_error(), win32::path_not_found);
  fs::remove(path("made"));

  // A copy replaces the target unless told not to.
  write("program", "new program");
  write("copy", "old");
  ASSERT_TRUE(files_.copy_file(path("program"), path("copy"), false));
  EXPECT_EQ(read("copy"), "new program");
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 2);

  EXPECT_FALSE(files_.copy_file(path("program"), path("copy"), true));
  EXPECT_EQ(system().last_error(), 80u);  // ERROR_FILE_EXISTS
  EXPECT_EQ(read("copy"), "new program");
  EXPECT_FALSE(files_.copy_file(path("missing"), path("other"), false));
  EXPECT_EQ(system().last_error(), win32::file_not_found);
  EXPECT_FALSE(files_.copy_file(path("program"), path("no/such/folder/copy"), false));
  EXPECT_EQ(system().last_error(), win32::path_not_found);
}

TEST_F(FilesContract, TextIsWrittenWithoutAndReadWithoutAByteOrderMark) {
  const std::string file = files_.create_file_replace_existing(scratch_.path(), "text.txt");
  EXPECT_EQ(file, path("text.txt"));
  files_.write_text(file, "caf\xC3\xA9 --flag");
  EXPECT_EQ(read("text.txt"), "caf\xC3\xA9 --flag");

  write("bom.txt", "\xEF\xBB\xBFwith mark");
  EXPECT_EQ(files_.read_text(path("bom.txt")), "with mark");
  write("bom-only.txt", "\xEF\xBB\xBF");
  EXPECT_EQ(files_.read_text(path("bom-only.txt")), "");
}

TEST_F(FilesContract, AppendableFilesAddToTheEndAndTellTheirSize) {
  write("log.txt", "one\n");
  auto first = files_.open_for_append(path("log.txt"));
  auto second = files_.open_for_append(path("log.txt"));
  ASSERT_TRUE(first && second);

  EXPECT_TRUE(first->append("two\n"));
  EXPECT_TRUE(second->append("three\n"));

  EXPECT_EQ(read("log.txt"), "one\ntwo\nthree\n");
  EXPECT_EQ(first->size(), 14u);
  EXPECT_EQ(files_.open_for_append(path("missing/log.txt")), nullptr);
}

TEST_F(FilesContract, PathsLongerThanTheWindowsLimitsWork) {
  std::string folder = scratch_.path();
  // A folder's path between CreateDirectoryW's limit (248) and MAX_PATH (260), then far beyond.
  folder += system().path_separator() + std::string(250 - folder.size() - 1, 'p');
  ASSERT_EQ(folder.size(), 250u);
  ASSERT_TRUE(files_.create_directory(folder)) << system().last_error();
  for (char letter = 'a'; letter < 'd'; ++letter) {
    folder += system().path_separator() + std::string(50, letter);
    ASSERT_TRUE(files_.create_directory(folder)) << system().last_error();
  }

  const std::string file = files_.create_file_replace_existing(folder, "long.txt");
  files_.write_text(file, "far down");
  ASSERT_TRUE(files_.copy_file(file, file + ".copy", false));
  EXPECT_EQ(files_.read_text(file + ".copy"), "far down");
  EXPECT_NO_THROW(files_.ensure_folder_exists(folder));

  // A backup's destination is longer than its source: the copy and the delete of a deep tree
  // go through, both ways.
  const std::string tree = scratch_.path() + system().path_separator() +
                           std::string(250 - scratch_.path().size() - 1, 'p');
  const std::string backup = scratch_.path("backup-of-the-data-folders");
  EXPECT_EQ(files_.shell_copy(tree, backup).result, 0);
  const std::string relative = std::string(50, 'a') + system().path_separator() +
                               std::string(50, 'b') + system().path_separator() +
                               std::string(50, 'c') + system().path_separator() + "long.txt";
  EXPECT_EQ(files_.read_text(backup + system().path_separator() + relative), "far down");
  EXPECT_EQ(files_.shell_copy(backup + system().path_separator() + "*", tree).result, 0);
  EXPECT_EQ(files_.shell_delete(tree).result, 0);
  EXPECT_EQ(files_.shell_delete(backup).result, 0);
  EXPECT_FALSE(exists("backup-of-the-data-folders"));
  EXPECT_TRUE(fs::is_empty(scratch_.path()));
}

TEST_F(FilesContract, StorageCallsRaiseWindowsErrors) {
  write("file.txt", "x");
  EXPECT_EQ(error_code_of([&] { files_.read_text(path("missing.txt")); }), 0x80070002u);
  EXPECT_EQ(error_code_of([&] { files_.read_text(path("missing/file.txt")); }), 0x80070003u);
  EXPECT_EQ(error_code_of([&] { files_.ensure_folder_exists(path("missing")); }), 0x80070002u);
  EXPECT_EQ(error_code_of([&] { files_.ensure_folder_exists(path("file.txt")); }), 0x8007010Bu);
  EXPECT_EQ(error_code_of([&] { files_.create_file_replace_existing(path("missing"), "a"); }),
            0x80070002u);
  EXPECT_EQ(error_code_of([&] { files_.write_text(path("missing/a.txt"), "a"); }), 0x80070003u);
  EXPECT_EQ(error_code_of([&] { files_.ensure_folder_exists(scratch_.path()); }), 0u);
}

// Two downloads of one name at once (two starts a moment apart): each writes its own file, the
// target changes only at a commit, and it is always one of them, whole.
TEST_F(FilesContract, PendingFilesReplaceTheTargetOnlyWhenCommittedAndNeverShareAFile) {
  write("escape-hatch.exe", "old");
  auto first = files_.create_pending_file(scratch_.path(), "escape-hatch.exe");
  auto second = files_.create_pending_file(scratch_.path(), "escape-hatch.exe");
  EXPECT_EQ(first->target_path(), path("escape-hatch.exe"));
  const std::string a(100000, 'a');
  const std::string b(50000, 'b');
  first->write(reinterpret_cast<const uint8_t*>(a.data()), a.size() / 2);
  second->write(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  first->write(reinterpret_cast<const uint8_t*>(a.data()), a.size() / 2);
  EXPECT_EQ(read("escape-hatch.exe"), "old");
  second->commit();
  EXPECT_EQ(read("escape-hatch.exe"), b);
  first->commit();
  EXPECT_EQ(read("escape-hatch.exe"), a);

  // Dropped uncommitted: nothing is left, and the target is as it was.
  files_.create_pending_file(scratch_.path(), "escape-hatch.exe")
      ->write(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  EXPECT_EQ(read("escape-hatch.exe"), a);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), {}), 1);
}

}  // namespace
}  // namespace pellora::platform
