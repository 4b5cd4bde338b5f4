// What the POSIX file services add to the contract: modes and symbolic links, which the Windows
// calls they stand in for keep as attributes and reparse points.

#include <gtest/gtest.h>

#include <filesystem>

#include "installer/platform/backend.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform::posix {
namespace {

namespace fs = std::filesystem;

TEST(PosixFiles, CopiesKeepModesAndLinksAndNeverWriteOrDeleteThroughALink) {
  const pellora::testing::ScratchFolder scratch;
  Files& files = *backend_services().files;
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

}  // namespace
}  // namespace pellora::platform::posix
