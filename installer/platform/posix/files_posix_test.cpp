// What the stand-in's file services add to the contract: modes and symbolic links, which the
// Windows calls they stand in for keep as attributes and reparse points, and private folders.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "installer/platform/posix/services_posix.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform::posix {
namespace {

namespace fs = std::filesystem;

TEST(PosixFiles, CopiesKeepModesAndLinksAndNeverWriteOrDeleteThroughALink) {
  const pellora::testing::ScratchFolder scratch;
  Files& files = *posix::files();
  const auto path = [&](const char* relative) { return scratch.path(relative); };
  scratch.write("source/tool.sh", "#!/bin/sh\n");
  fs::permissions(path("source/tool.sh"), fs::perms(0750));
  fs::create_symlink("tool.sh", path("source/link"));
  scratch.write("outside/keep.txt", "keep");
  scratch.write("backup/name.txt", "from backup");
  fs::create_directories(path("target"));
  fs::create_symlink(path("outside/keep.txt"), path("target/name.txt"));

  EXPECT_EQ(files.shell_copy(path("source"), path("copy")).result, 0);
  EXPECT_EQ(fs::status(path("copy/tool.sh")).permissions(), fs::perms(0750));
  ASSERT_TRUE(fs::is_symlink(path("copy/link")));
  EXPECT_EQ(fs::read_symlink(path("copy/link")), "tool.sh");

  ASSERT_TRUE(files.copy_file(path("source/tool.sh"), path("tool-copy.sh"), false));
  EXPECT_EQ(fs::status(path("tool-copy.sh")).permissions(), fs::perms(0750));

  EXPECT_EQ(files.shell_copy(path("backup/*"), path("target")).result, 0);
  EXPECT_FALSE(fs::is_symlink(path("target/name.txt")));
  EXPECT_EQ(scratch.read("outside/keep.txt"), "keep");

  fs::create_symlink(path("outside"), path("copy/outside-link"));
  fs::permissions(path("copy"), fs::perms(0500));
  EXPECT_EQ(files.shell_delete(path("copy")).result, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path("copy"))));
  EXPECT_EQ(scratch.read("outside/keep.txt"), "keep");
}

TEST(PosixFiles, ACopyOfAFolderNamedByALinkCopiesTheFolder) {
  const pellora::testing::ScratchFolder scratch;
  scratch.write("data/LocalState/notes.txt", "mine");
  fs::create_directory_symlink(scratch.path("data/LocalState"), scratch.path("link"));

  const ShellFileOperationResult result =
      files()->shell_copy(scratch.path("link"), scratch.path("backup/Local"));
  EXPECT_EQ(result.result, 0);
  EXPECT_FALSE(fs::is_symlink(scratch.path("backup/Local")));
  fs::remove_all(scratch.path("data"));  // as the removal of the package does
  EXPECT_EQ(scratch.read("backup/Local/notes.txt"), "mine");
}

TEST(PosixFiles, APrivateFolderIsTheUsersAloneOrRefused) {
  const pellora::testing::ScratchFolder scratch;
  FolderRefusal refusal = FolderRefusal::none;
  ASSERT_TRUE(files()->create_private_directory(scratch.path("mine"), refusal));
  EXPECT_EQ(fs::status(scratch.path("mine")).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(files()->create_private_directory(scratch.path("mine"), refusal)) << "again: fine";

  fs::create_directory_symlink(scratch.path("mine"), scratch.path("link"));
  fs::create_directory(scratch.path("shared"));
  fs::permissions(scratch.path("shared"), fs::perms::all);
  fs::create_directory(scratch.path("theirs"));
  const bool can_give_away = ::chown(scratch.path("theirs").c_str(), 4321, 4321) == 0;
  const std::pair<const char*, FolderRefusal> cases[] = {
      {"link", FolderRefusal::symbolic_link},
      {"shared", FolderRefusal::writable_by_others},
      {"theirs", FolderRefusal::other_owner},
  };
  for (const auto& [name, why] : cases) {
    if (std::string(name) == "theirs" && !can_give_away) continue;  // needs root
    EXPECT_FALSE(files()->create_private_directory(scratch.path(name), refusal)) << name;
    EXPECT_EQ(refusal, why);
  }
}

}  // namespace
}  // namespace pellora::platform::posix
