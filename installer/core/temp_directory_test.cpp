#include "installer/core/temp_directory.h"

#include <gtest/gtest.h>

#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::FakeFiles;
using testing::ProcessExit;
using testing::ScopedFakePlatform;

TEST(TempDirectory, NamedAfterThePackageAndCreatedOnlyOnce) {
  ScopedFakePlatform fake;
  FakeFiles files;
  fake.services().files = &files;
  fake.system.temp_path_value = "/home/u/tmp/";
  files.directories.insert("/home/u/tmp");

  EXPECT_EQ(temp_directory(), "/home/u/tmp/App_1.0.0.0_arm64__abc/");
  EXPECT_EQ(temp_directory(), "/home/u/tmp/App_1.0.0.0_arm64__abc/");
  EXPECT_EQ(files.created_directories(),
            std::vector<std::string>{"/home/u/tmp/App_1.0.0.0_arm64__abc"});
  EXPECT_EQ(files.create_directory_calls().size(), 2u);
  EXPECT_TRUE(fake.window.boxes.empty());
}

TEST(TempDirectory, FailuresEndInTheErrorBox) {
  {
    ScopedFakePlatform fake;
    FakeFiles files;
    fake.services().files = &files;
    create_progress_window();
    fake.system.temp_path_value = "";
    platform::set_last_error(platform::win32::filename_too_long);
    EXPECT_THROW(temp_directory(), ProcessExit);
    ASSERT_EQ(fake.window.boxes.size(), 1u);
    EXPECT_EQ(fake.clipboard.text.value_or(""),
              "GetTempPathW failed with error: [206]: " +
                  platform::format_message(platform::win32::filename_too_long));
    EXPECT_TRUE(files.create_directory_calls().empty());
  }
  {
    ScopedFakePlatform fake;
    FakeFiles files;
    fake.services().files = &files;
    files.create_directory_error = platform::win32::access_denied;
    create_progress_window();
    try {
      temp_directory();
      FAIL() << "temp_directory returned";
    } catch (const ProcessExit& exit) {
      EXPECT_EQ(exit.code, 1);
    }
    EXPECT_EQ(fake.clipboard.text.value_or(""),
              "CreateDirectoryW failed with error: [5]: " +
                  platform::format_message(platform::win32::access_denied));
  }
  {
    ScopedFakePlatform fake;
    FakeFiles files;
    fake.services().files = &files;
    files.private_refusal = "it belongs to another user";
    create_progress_window();
    EXPECT_THROW(temp_directory(), ProcessExit);
    EXPECT_EQ(fake.clipboard.text.value_or(""),
              "The program's temporary folder /tmp/App_1.0.0.0_arm64__abc cannot be used, because "
              "it belongs to another user. Remove it or let only your own account use it, then "
              "try again.");
  }
}

}  // namespace
}  // namespace pellora
