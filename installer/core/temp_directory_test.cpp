#include "installer/core/temp_directory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;

TEST(TempDirectory, NamedAfterThePackageFoundAgainOrEndingInTheErrorBox) {
  testing::ScopedFakePlatform fake;
  create_progress_window();
  const std::string expected = fake.scratch.path("App_1.0.0.0_arm64__abc") + "/";
  EXPECT_EQ(temp_directory(), expected);
  EXPECT_EQ(temp_directory(), expected);
  EXPECT_TRUE(std::filesystem::is_directory(expected));
  EXPECT_TRUE(fake.window.boxes.empty());
  std::filesystem::remove(expected);

  fake.system.temp_path_value = "";
  platform::set_last_error(platform::win32::filename_too_long);
  EXPECT_THROW(temp_directory(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text.value_or(""),
            "GetTempPathW failed with error: [206]: " +
                platform::format_message(platform::win32::filename_too_long));

  fake.scratch.write("file", "in the way");
  fake.system.temp_path_value = fake.scratch.path("file") + "/";
  EXPECT_THROW(temp_directory(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text.value_or("").rfind("CreateDirectoryW failed with error: [", 0), 0u);

  // A folder of that name that others may change is not used.
  fake.system.temp_path_value = fake.scratch.path("");
  std::filesystem::create_directory(fake.scratch.path("App_1.0.0.0_arm64__abc"));
  std::filesystem::permissions(fake.scratch.path("App_1.0.0.0_arm64__abc"),
                               std::filesystem::perms::all);
  EXPECT_THROW(temp_directory(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text.value_or(""),
            "The program's temporary folder " + fake.scratch.path("App_1.0.0.0_arm64__abc") +
                " cannot be used, because other users can write to it. Remove it or let only your "
                "own account use it, then try again.");

  // One an earlier version left readable by others becomes the user's alone.
  namespace fs = std::filesystem;
  fs::permissions(expected, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(temp_directory(), expected);
  EXPECT_EQ(fs::status(expected).permissions(), fs::perms::owner_all);

  // A path that would not survive a command line whole is refused before anything is made.
  fake.system.temp_path_value = fake.scratch.path("line\nbreak") + "/";
  EXPECT_EQ(usable_temp_directory(), "");
  EXPECT_THROW(temp_directory(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text.value_or(""),
            "The temporary folder " + fake.scratch.path("line\\nbreak") +
                "/ cannot be used, because its path holds a control character (a line break, a "
                "tab or the like). Choose a temporary folder without one, then try again.");
  EXPECT_FALSE(fs::exists(fake.scratch.path("line\nbreak")));
}

}  // namespace
}  // namespace pellora
