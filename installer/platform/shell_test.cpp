// The shell's contract, run against the backend that is built: failures carry the Win32 error
// that ShellExecute leaves behind.

#include <gtest/gtest.h>

#include "installer/platform/backend.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform {
namespace {

System& system() { return *backend_services().system; }

intptr_t open(const std::string& file, const std::string& verb = "open") {
  system().set_last_error(0);
  return backend_services().shell->shell_execute(verb, file, "", sw_shownormal);
}

TEST(ShellContract, FailuresCarryTheWindowsLastError) {
  const pellora::testing::ScratchFolder scratch;
  EXPECT_LE(open(scratch.path("missing.exe")), 32);
  EXPECT_EQ(system().last_error(), win32::file_not_found);
  EXPECT_LE(open("no-such-program-anywhere.exe"), 32);
  EXPECT_EQ(system().last_error(), win32::file_not_found);
  EXPECT_LE(open("unregistered-scheme-of-a-test:anything"), 32);
  // Windows has no association for the scheme; Wine, whose shell does not look schemes up the
  // same way, answers that it found no such file.
  EXPECT_TRUE(system().last_error() == win32::no_association ||
              system().last_error() == win32::file_not_found)
      << system().last_error();
}

}  // namespace
}  // namespace pellora::platform
