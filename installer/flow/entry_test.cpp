#include "installer/flow/entry.h"

#include <gtest/gtest.h>

#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

TEST(StartFlow, AWorkerThatCannotStartEndsInTheErrorBox) {
  testing::ScopedFakePlatform fake;
  create_progress_window();
  fake.system.refuse_work = platform::win32::not_enough_memory;
  static bool ran = false;
  EXPECT_THROW(start_flow([] { ran = true; }), testing::ProcessExit);
  EXPECT_FALSE(ran);
  EXPECT_EQ(fake.clipboard.text,
            "Exception whilst installing: [80070008] " + platform::format_message(8) + "\n");
}

// The flow runs on a worker; whatever it changes, only the thread that created the window draws,
// including what it changed before the window's loop started.
TEST(StartFlow, OnlyTheWindowThreadDrawsWhatTheFlowChanges) {
  testing::ScopedFakePlatform fake;
  fake.system.work_on_thread = true;
  create_progress_window();
  start_flow([] {
    set_status("Working");
    show_progress_window();
    set_flow_running(false);
    on_window_event(platform::WindowEvent::close);
  });
  EXPECT_EQ(run_message_loop(), ExitCode::success);
  fake.system.join_work();
  EXPECT_EQ(fake.window.calls_off_window_thread(), 0);
  EXPECT_EQ(fake.window.last_view().title, "Working");
  EXPECT_TRUE(fake.window.last_view().visible);
}

}  // namespace
}  // namespace pellora
