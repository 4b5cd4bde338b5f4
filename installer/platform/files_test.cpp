// The file services' contract, run against the backend that is built, on scratch folders.

#include <gtest/gtest.h>

#include <filesystem>

#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform {
namespace {

namespace fs = std::filesystem;

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
  write("source/tool.sh", "#!/bin/sh\n");
  fs::permissions(path("source/tool.sh"), fs::perms(0750));
  fs::create_symlink("a.txt", path("source/link"));

  const ShellFileOperationResult result = files_.shell_copy(path("source"), path("copy"));

  EXPECT_EQ(result.result, 0);
  EXPECT_FALSE(result.any_aborted);
  EXPECT_EQ(read("copy/a.txt"), "alpha");
  EXPECT_EQ(read("copy/nested/deeper/b.bin"), std::string("\0\1\2", 3));
  EXPECT_TRUE(fs::is_directory(path("copy/empty")));
  EXPECT_EQ(fs::status(path("copy/tool.sh")).permissions(), fs::perms(0750));
  ASSERT_TRUE(fs::is_symlink(path("copy/link")));
  EXPECT_EQ(fs::read_symlink(path("copy/link")), "a.txt");
  EXPECT_FALSE(exists("copy/source"));
  // Into an existing folder, the copy keeps its name.
  EXPECT_EQ(files_.shell_copy(path("source"), path("copy")).result, 0);
  EXPECT_EQ(read("copy/source/a.txt"), "alpha");
}

TEST_F(FilesContract, WildCardReplacesALinkInTheWayWithoutWritingThroughIt) {
  write("outside.txt", "untouched");
  write("backup/name.txt", "from backup");
  fs::create_directories(path("target"));
  fs::create_symlink(path("outside.txt"), path("target/name.txt"));

  EXPECT_EQ(files_.shell_copy(path("backup/*"), path("target")).result, 0);

  EXPECT_FALSE(fs::is_symlink(path("target/name.txt")));
  EXPECT_EQ(read("target/name.txt"), "from backup");
  EXPECT_EQ(read("outside.txt"), "untouched");
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

TEST_F(FilesContract, DeleteRemovesATreeButNotWhatItsLinksPointAt) {
  write("outside/keep.txt", "keep");
  write("tree/a/b/c.txt", "c");
  fs::create_symlink(path("outside"), path("tree/link"));
  fs::permissions(path("tree/a"), fs::perms(0500));

  const ShellFileOperationResult result = files_.shell_delete(path("tree"));

  EXPECT_EQ(result.result, 0);
  EXPECT_FALSE(exists("tree"));
  EXPECT_EQ(read("outside/keep.txt"), "keep");
  EXPECT_EQ(files_.shell_delete(path("tree")).result, 2);
}

TEST_F(FilesContract, CreateDirectorySetsTheWindowsLastError) {
  EXPECT_TRUE(files_.create_directory(path("made")));
  EXPECT_FALSE(files_.create_directory(path("made")));
  EXPECT_EQ(get_last_error(), win32::already_exists);
  EXPECT_FALSE(files_.create_directory(path("missing/child")));
  EXPECT_EQ(get_last_error(), win32::path_not_found);
}

TEST_F(FilesContract, CopyFileReplacesTheTargetWithTheSourcesMode) {
  write("program", "new program");
  fs::permissions(path("program"), fs::perms(0755));
  write("copy", "old");
  fs::permissions(path("copy"), fs::perms(0600));

  ASSERT_TRUE(files_.copy_file(path("program"), path("copy"), false));

  EXPECT_EQ(read("copy"), "new program");
  EXPECT_EQ(fs::status(path("copy")).permissions(), fs::perms(0755));
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 2);
}

TEST_F(FilesContract, CopyFileFailuresSetTheLastError) {
  write("program", "p");
  write("existing", "e");

  EXPECT_FALSE(files_.copy_file(path("program"), path("existing"), true));
  EXPECT_EQ(get_last_error(), 80u);  // ERROR_FILE_EXISTS
  EXPECT_EQ(read("existing"), "e");
  EXPECT_FALSE(files_.copy_file(path("missing"), path("copy"), false));
  EXPECT_EQ(get_last_error(), win32::file_not_found);
  EXPECT_FALSE(files_.copy_file(path("program"), path("no/such/folder/copy"), false));
  EXPECT_EQ(get_last_error(), win32::path_not_found);
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

uint32_t storage_error_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const PlatformError& error) {
    EXPECT_FALSE(error.message().empty());
    return error.code();
  }
  return 0;
}

TEST_F(FilesContract, StorageCallsRaiseWindowsErrors) {
  write("file.txt", "x");
  EXPECT_EQ(storage_error_of([&] { files_.read_text(path("missing.txt")); }), 0x80070002u);
  EXPECT_EQ(storage_error_of([&] { files_.read_text(path("missing/file.txt")); }), 0x80070003u);
  EXPECT_EQ(storage_error_of([&] { files_.ensure_folder_exists(path("missing")); }), 0x80070002u);
  EXPECT_EQ(storage_error_of([&] { files_.ensure_folder_exists(path("file.txt")); }), 0x8007010Bu);
  EXPECT_EQ(storage_error_of([&] { files_.create_file_replace_existing(path("missing"), "a"); }),
            0x80070002u);
  EXPECT_EQ(storage_error_of([&] { files_.write_text(path("missing/a.txt"), "a"); }), 0x80070003u);
  EXPECT_EQ(storage_error_of([&] { files_.ensure_folder_exists(scratch_.path()); }), 0u);
}

// Two downloads of one name at once (two starts a moment apart): each writes its own file, and
// the target is always one of them, whole.
TEST_F(FilesContract, PendingFilesOfOneTargetNeverShareAFile) {
  auto first = files_.create_pending_file(scratch_.path(), "escape-hatch.exe");
  auto second = files_.create_pending_file(scratch_.path(), "escape-hatch.exe");
  EXPECT_EQ(first->target_path(), path("escape-hatch.exe"));
  const std::string a(100000, 'a');
  const std::string b(50000, 'b');
  first->write(reinterpret_cast<const uint8_t*>(a.data()), a.size() / 2);
  second->write(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  first->write(reinterpret_cast<const uint8_t*>(a.data()), a.size() / 2);
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
