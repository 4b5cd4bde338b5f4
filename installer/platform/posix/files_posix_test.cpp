// What the stand-in's file services add to the contract.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "installer/platform/posix/services_posix.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform::posix {
namespace {

namespace fs = std::filesystem;

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
  std::string refusal;
  ASSERT_TRUE(files()->create_private_directory(scratch.path("mine"), refusal));
  EXPECT_EQ(fs::status(scratch.path("mine")).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(files()->create_private_directory(scratch.path("mine"), refusal)) << "again: fine";

  fs::create_directory_symlink(scratch.path("mine"), scratch.path("link"));
  fs::create_directory(scratch.path("shared"));
  fs::permissions(scratch.path("shared"), fs::perms::all);
  fs::create_directory(scratch.path("theirs"));
  const bool can_give_away = ::chown(scratch.path("theirs").c_str(), 4321, 4321) == 0;
  const std::pair<const char*, const char*> cases[] = {
      {"link", "it is a symbolic link"},
      {"shared", "other users can write to it"},
      {"theirs", "it belongs to another user"},
  };
  for (const auto& [name, why] : cases) {
    if (std::string(name) == "theirs" && !can_give_away) continue;  // needs root
    EXPECT_FALSE(files()->create_private_directory(scratch.path(name), refusal)) << name;
    EXPECT_EQ(refusal, why);
  }
}

}  // namespace
}  // namespace pellora::platform::posix
