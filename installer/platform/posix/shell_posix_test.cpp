// What the stand-in's shell adds to the contract: programs found on PATH, files that are not
// programs, a scheme without a program, and elevation refused on request.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "installer/platform/backend.h"
#include "installer/platform/posix/services_posix.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform::posix {
namespace {

intptr_t open(const std::string& file, const std::string& verb = "open") {
  system()->set_last_error(0);
  return shell()->shell_execute(verb, file, "", sw_shownormal);
}

TEST(PosixShell, FindsBareNamesRefusesNonProgramsAndHonoursRefusedElevation) {
  const pellora::testing::ScratchFolder scratch;
  scratch.write("notes.txt", "not a program");
  EXPECT_LE(open(scratch.path("notes.txt")), 32);
  EXPECT_EQ(system()->last_error(), win32::access_denied);
  EXPECT_LE(open(scratch.path()), 32);  // a folder
  EXPECT_EQ(system()->last_error(), win32::access_denied);
  EXPECT_LE(open("/bin/true", "edit"), 32);
  EXPECT_EQ(system()->last_error(), win32::no_association);
  EXPECT_LE(open("unregistered-scheme-of-a-test:anything"), 32);
  EXPECT_EQ(system()->last_error(), win32::no_association);

  EXPECT_GT(open("true"), 32);
  EXPECT_GT(open("true", "runas"), 32);
  setenv("TREVALON_PLATFORM_ELEVATION", "refuse", 1);
  EXPECT_LE(open("true", "runas"), 32);
  EXPECT_EQ(system()->last_error(), win32::cancelled);
  EXPECT_GT(open("true"), 32);  // only elevation is refused
  unsetenv("TREVALON_PLATFORM_ELEVATION");
}

}  // namespace
}  // namespace pellora::platform::posix
