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
  const std::string expected =
      fake.scratch.path("App_1.0.0.0_arm64__abc") + platform::path_separator();
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
  fake.system.temp_path_value = fake.scratch.path("file") + platform::path_separator();
  EXPECT_THROW(temp_directory(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text.value_or("").rfind("CreateDirectoryW failed with error: [", 0), 0u);

  // Something of that name that is no folder of the user's is not used (which ones each backend
  // refuses, its own tests check).
  fake.system.temp_path_value = fake.scratch.path("");
  fake.scratch.write("App_1.0.0.0_arm64__abc", "not a folder");
  EXPECT_THROW(temp_directory(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text.value_or(""),
            "The program's temporary folder " + fake.scratch.path("App_1.0.0.0_arm64__abc") +
                " cannot be used, because it is not a folder. Remove it or let only your own "
                "account use it, then try again.");

  // A path that would not survive a command line whole is refused before anything is made.
  fake.system.temp_path_value = fake.scratch.path("line\nbreak") + platform::path_separator();
  EXPECT_EQ(usable_temp_directory(), "");
  EXPECT_THROW(temp_directory(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text.value_or(""),
            "The temporary folder " + fake.scratch.path("line\\nbreak") +
                platform::path_separator() +
                " cannot be used, because its path holds a control character (a line break, a "
                "tab or the like). Choose a temporary folder without one, then try again.");
  EXPECT_FALSE(std::filesystem::exists(fake.scratch.path("line\nbreak")));
}

}  // namespace
}  // namespace pellora
