// The last-error contract, run against the backend that is built: per thread, as Win32 keeps it,
// with the system's texts ending in a line break.

#include <gtest/gtest.h>

#include <thread>

#include "installer/platform/backend.h"

namespace pellora::platform {
namespace {

TEST(LastErrorContract, IsPerThreadAndHasTheSystemsTexts) {
  set_last_error(win32::access_denied);
  EXPECT_EQ(get_last_error(), win32::access_denied);
  std::thread([] {
    EXPECT_EQ(get_last_error(), 0u);
    set_last_error(win32::file_not_found);
    EXPECT_EQ(get_last_error(), win32::file_not_found);
  }).join();

  const std::string text = format_message(win32::file_not_found);
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_NE(format_message(win32::cancelled), format_message(win32::file_not_found));
}

}  // namespace
}  // namespace pellora::platform
