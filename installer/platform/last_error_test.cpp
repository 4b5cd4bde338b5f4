// The last-error contract, run against the backend that is built: per thread, as Win32 keeps it,
// with the system's texts ending in a line break.

#include <gtest/gtest.h>

#include <thread>

#include "installer/platform/backend.h"

namespace pellora::platform {
namespace {

System& system() { return *backend_services().system; }

TEST(LastErrorContract, IsPerThreadAndHasTheSystemsTexts) {
  system().set_last_error(win32::access_denied);
  EXPECT_EQ(system().last_error(), win32::access_denied);
  std::thread([] {
    EXPECT_EQ(system().last_error(), 0u);
    system().set_last_error(win32::file_not_found);
    EXPECT_EQ(system().last_error(), win32::file_not_found);
  }).join();

  const std::string text = system().format_message(win32::file_not_found);
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_NE(system().format_message(win32::cancelled),
            system().format_message(win32::file_not_found));
}

}  // namespace
}  // namespace pellora::platform
