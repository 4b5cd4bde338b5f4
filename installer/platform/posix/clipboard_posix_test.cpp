#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/error.h"
#include "installer/platform/posix/services_posix.h"
#include "tests/support/scratch_folder.h"

namespace pellora::platform::posix {
namespace {

TEST(PosixClipboard, AnUnusableRootIsAPlatformError) {
  const pellora::testing::ScratchFolder scratch;
  scratch.write("file", "x");
  ::setenv("TREVALON_PLATFORM_ROOT", scratch.path("file/root").c_str(), 1);
  try {
    clipboard()->set_text_and_flush("text");
    ADD_FAILURE() << "the clipboard accepted the text";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.code() & 0xFFFF0000u, 0x80070000u);
    EXPECT_NE(error.message().find("root"), std::string::npos);
  }
  ::unsetenv("TREVALON_PLATFORM_ROOT");
}

}  // namespace
}  // namespace pellora::platform::posix
