#include "installer/core/progress_window.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;
using testing::ScopedFakePlatform;

TEST(ReportError, ShowsTheBoxCopiesTheTextAndExitsWithOne) {
  ScopedFakePlatform fake;
  create_progress_window();
  try {
    report_error("Failed to install x due to error: y");
    FAIL() << "report_error returned";
  } catch (const ProcessExit& exit) {
    EXPECT_EQ(exit.code, 1);
  }
  ASSERT_EQ(fake.window.boxes.size(), 1u);
  EXPECT_EQ(fake.window.boxes[0].first,
            "A problem was encountered during installation. The following error message was "
            "copied to your clipboard:\n\nFailed to install x due to error: y");
  EXPECT_EQ(fake.window.boxes[0].second, "Error");
  EXPECT_EQ(fake.clipboard.text, "Failed to install x due to error: y");
  EXPECT_TRUE(fake.window.last_view().error_state);
  EXPECT_EQ(fake.window.last_view().title, "Installation failed");
  EXPECT_FALSE(fake.window.was_ever_visible());
  EXPECT_TRUE(fake.debug.contains("Failed to install x due to error: y"));
}

TEST(ReportError, LeavesOutTheClipboardSentenceWhenTheCopyFails) {
  ScopedFakePlatform fake;
  fake.clipboard.refuse = true;
  create_progress_window();
  EXPECT_THROW(report_error("boom"), ProcessExit);
  ASSERT_EQ(fake.window.boxes.size(), 1u);
  EXPECT_EQ(fake.window.boxes[0].first, "A problem was encountered during installation.\n\nboom");
  EXPECT_TRUE(fake.debug.contains("Failed to copy to clipboard due to error: [800401d0] "));
}

TEST(ProgressWindow, TimerShowsTheWindowOnceUnlessHiddenFirst) {
  {
    ScopedFakePlatform fake;
    create_progress_window(20);
    std::thread loop([] { run_message_loop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(progress_window_view().visible);
    EXPECT_TRUE(fake.debug.contains("Timer expired, showing UI."));
    on_window_event(platform::WindowEvent::close);  // flow not running: a plain quit
    loop.join();
    EXPECT_EQ(fake.debug.text().find("Timer expired"), fake.debug.text().rfind("Timer expired"));
  }
  {
    ScopedFakePlatform fake;
    create_progress_window(100);
    hide_progress_window();
    std::thread loop([] { run_message_loop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fake.window.was_ever_visible());
    on_window_event(platform::WindowEvent::close);
    loop.join();
  }
}

TEST(ProgressWindow, CancelCancelsTheCurrentOperationAndSetsTheFlag) {
  struct Operation : platform::Cancellable {
    int cancels = 0;
    void cancel() override { ++cancels; }
  };
  ScopedFakePlatform fake;
  create_progress_window();
  auto operation = std::make_shared<Operation>();
  {
    CurrentOperationRegistration registration(operation);
    on_window_event(platform::WindowEvent::cancel);  // the button is disabled at first
    EXPECT_EQ(operation->cancels, 0);
    EXPECT_FALSE(cancel_requested);
    enable_cancel(true);
    on_window_event(platform::WindowEvent::cancel);
  }
  EXPECT_EQ(operation->cancels, 1);
  EXPECT_TRUE(cancel_requested);
  EXPECT_FALSE(has_current_operation());
  on_window_event(platform::WindowEvent::cancel);  // nothing registered: only the flag
  EXPECT_EQ(operation->cancels, 1);
}

TEST(ProgressWindow, ClosingDuringTheFlowIsACancellation) {
  ScopedFakePlatform fake;
  create_progress_window();
  set_flow_running(true);
  try {
    on_window_event(platform::WindowEvent::close);
    FAIL();
  } catch (const ProcessExit& exit) {
    EXPECT_EQ(exit.code, 5);
  }
  EXPECT_TRUE(fake.debug.contains("User cancelled the install, exiting.\n"));
}

TEST(ProgressWindow, BannerChoiceAndPlacement) {
  EXPECT_EQ(banner_index_for_dpi(96), 0);
  EXPECT_EQ(banner_index_for_dpi(97), 1);
  EXPECT_EQ(banner_x(0, 400, 100, 96.0f, 96.0f), 150);
  EXPECT_EQ(banner_x(0, 400, 100, 192.0f, 192.0f), 150);
  EXPECT_EQ(banner_x(0, 401, 101, 96.0f, 96.0f), 150);
}

}  // namespace
}  // namespace pellora
