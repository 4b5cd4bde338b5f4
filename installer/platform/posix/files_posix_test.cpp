// What the stand-in's file services add to the contract.

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pellora::platform::posix
