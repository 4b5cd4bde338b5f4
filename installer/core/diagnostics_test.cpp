#include "installer/core/diagnostics.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "installer/core/progress_window.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

TEST(LogFile, KeepsEveryLineWithItsProcessAndMovesAsideAtTheCap) {
  testing::ScopedFakePlatform fake;
  const std::string log = fake.scratch.path("pellora.log");
  open_log_file(log);
  log_line("Timer expired, showing UI.");
  log_line("Downloading metadata...\n");
  const std::string text = fake.scratch.read("pellora.log");
  EXPECT_NE(text.find(" [4242] Timer expired, showing UI.\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" [4242] Downloading metadata...\n"), std::string::npos) << text;
  EXPECT_TRUE(fake.debug.contains("Timer expired, showing UI.")) << "the debugger still gets it";

  fake.scratch.write("pellora.log", std::string(log_file_cap_bytes, 'x'));
  log_line("after the cap\n");
  EXPECT_EQ(fake.scratch.read("pellora.log.1").size(), log_file_cap_bytes);
  EXPECT_NE(fake.scratch.read("pellora.log").find("after the cap"), std::string::npos);
  EXPECT_LT(fake.scratch.read("pellora.log").size(), 100u);

  // Another process of the run moved the full file aside first: this one's handle is still on
  // the moved file, and the new file at the path is kept, as is the older one.
  fake.scratch.write("pellora.log", std::string(log_file_cap_bytes, 'y'));
  open_log_file(log);
  std::filesystem::rename(log, log + ".1");
  fake.scratch.write("pellora.log", "the other process's first line\n");
  log_line("after the other's move\n");
  EXPECT_EQ(fake.scratch.read("pellora.log.1"), std::string(log_file_cap_bytes, 'y'));
  EXPECT_EQ(fake.scratch.read("pellora.log").rfind("the other process's first line\n", 0), 0u);
  EXPECT_NE(fake.scratch.read("pellora.log").find("after the other's move"), std::string::npos);

  EXPECT_EQ(error_box_text("It broke.", false, log_file_path()),
            "A problem was encountered during installation.\n\nIt broke.\n\n"
            "Log file: " +
                log);
  open_log_file("");  // nothing more goes to a file in later tests
}

}  // namespace
}  // namespace pellora
