// What the Windows backend decides that the shared contract tests cannot show: a program file
// that is still running, the account's rights from the token, PowerShell's path.

#include <gtest/gtest.h>

#include <filesystem>

#include "installer/platform/backend.h"
#include "installer/platform/windows/windows_common.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform::windows {
namespace {

namespace fs = std::filesystem;

// A running program's file is open for reading and may be renamed or deleted by name, never
// written: the sharing a running image gives. (Wine lets a copy over a truly running program
// through, so the test holds the file as Windows does.)
TEST(WindowsFiles, AProgramCopyTakesThePlaceOfOneStillRunning) {
  pellora::testing::ScratchFolder scratch;
  scratch.write("updatecheck.exe", "new build");
  scratch.write("updater.exe", "old build");
  const std::wstring target = fs::path(scratch.path("updater.exe")).wstring();
  Handle running(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(running);
  Files& files = *backend_services().files;
  EXPECT_FALSE(
      files.copy_file(scratch.path("updatecheck.exe"), scratch.path("updater.exe"), false));

  ASSERT_TRUE(
      files.copy_replacing_program(scratch.path("updatecheck.exe"), scratch.path("updater.exe")));
  EXPECT_EQ(scratch.read("updater.exe"), "new build");
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), {}), 3);  // the old one aside

  // Once it has ended, the next run removes what this one set aside.
  running.reset();
  ASSERT_TRUE(
      files.copy_replacing_program(scratch.path("updatecheck.exe"), scratch.path("updater.exe")));
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), {}), 2);
}

TEST(WindowsSystem, AdministratorsFromTheTokenAndPowerShellFromTheSystemFolder) {
  System& system = *backend_services().system;
  // Every Wine process runs elevated, as a member of Administrators.
  EXPECT_TRUE(system.current_user_is_admin());
  wchar_t folder[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(system.powershell_path(), to_utf8(std::wstring_view(folder, length)) +
                                          "\\WindowsPowerShell\\v1.0\\powershell.exe");
}

}  // namespace
}  // namespace pellora::platform::windows
