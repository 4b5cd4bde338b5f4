#include "installer/core/progress_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ScopedFakePlatform;

TEST(ReportError, ShowsTheBoxCopiesTheTextIfItCanAndExitsWithOne) {
  ScopedFakePlatform fake;
  create_progress_window();
  EXPECT_EQ(testing::ending_of([] { report_error("Failed to install x due to error: y"); }),
            "exit 1");
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

  // Without the copy, the box leaves out the clipboard sentence.
  fake.clipboard.refuse = true;
  EXPECT_EQ(testing::ending_of([] { report_error("boom"); }), "exit 1");
  ASSERT_EQ(fake.window.boxes.size(), 2u);
  EXPECT_EQ(fake.window.boxes[1].first, "A problem was encountered during installation.\n\nboom");
  EXPECT_TRUE(fake.debug.contains("Failed to copy to clipboard due to error: [800401d0] "));
}

// The show timer runs on the window's clock, and the surface's wait is where its time passes:
// the first wait wakes a millisecond early, the next at the deadline, and a wait without one
// closes the window (the flow is not running: a plain quit).
TEST(ProgressWindow, TimerShowsTheWindowOnceAfterTwoSecondsUnlessHiddenFirst) {
  using Time = std::chrono::steady_clock::time_point;
  for (const bool hide_first : {false, true}) {
    SCOPED_TRACE(hide_first ? "hidden first" : "shown by the timer");
    ScopedFakePlatform fake;
    Time now{};
    std::vector<std::optional<Time>> waits;
    fake.window.on_wait = [&](std::optional<Time> deadline) {
      waits.push_back(deadline);
      if (!deadline) return on_window_event(platform::WindowEvent::close);
      const Time early = *deadline - std::chrono::milliseconds(1);
      now = now < early ? early : *deadline;
    };
    create_progress_window([&now] { return now; });
    if (hide_first) hide_progress_window();
    EXPECT_EQ(run_message_loop(), ExitCode::success);

    const Time shown_at = Time{} + std::chrono::milliseconds(show_timer_ms);
    using Waits = std::vector<std::optional<Time>>;
    const Waits expected =
        hide_first ? Waits{std::nullopt} : Waits{shown_at, shown_at, std::nullopt};
    EXPECT_EQ(waits, expected);
    EXPECT_EQ(fake.window.was_ever_visible(), !hide_first);
    const std::string log = fake.debug.text();
    EXPECT_EQ(log.find("Timer expired, showing UI.") != std::string::npos, !hide_first);
    EXPECT_EQ(log.find("Timer expired"), log.rfind("Timer expired"));
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
  EXPECT_EQ(testing::ending_of([] { on_window_event(platform::WindowEvent::close); }), "exit 5");
  EXPECT_TRUE(fake.debug.contains("User cancelled the install, exiting.\n"));
}

}  // namespace
}  // namespace pellora
