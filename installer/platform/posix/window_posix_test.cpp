#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "installer/platform/posix/terminal_view.h"

namespace pellora::platform::posix {
namespace {

using namespace std::chrono_literals;

WindowView shown(const std::string& title) {
  WindowView view;
  view.visible = true;
  view.title = title;
  return view;
}

// What arrives on `fd` within `wait`, stopping early once `enough` bytes are in.
std::string read_for(int fd, std::chrono::milliseconds wait, size_t enough = SIZE_MAX) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || text.size() >= enough) return text;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, enough - text.size()));
    if (got <= 0) return text;
    text.append(buffer, static_cast<size_t>(got));
  }
}

TEST(TerminalViewLine, ShowsTheStatusTheBarAndThePercentageWithinTheWidth) {
  WindowView view = shown("Downloading, please wait");
  view.marquee = false;
  view.position = 45;
  EXPECT_EQ(terminal_view_line(view, 0, 0),
            "Downloading, please wait  [##########--------------] 45%");
  view.error_state = true;
  EXPECT_EQ(terminal_view_line(view, 0, 0),
            "Downloading, please wait  [!!!!!!!!!!--------------] 45% error");

  // Shortened to the width without splitting a character.
  view = shown("Installation \xC3\xA9\xC3\xA9\xC3\xA9 failed");
  EXPECT_EQ(terminal_view_line(view, 0, 43), "Installation \xC3\xA9  [=====-------------------]");
}

TEST(TerminalView, HidingOrStartingAProgramErasesTheLineAtOnce) {
  int master = -1;
  int terminal = -1;
  ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  {
    auto view = make_terminal_view(terminal, terminal);
    view->render(shown("Downloading, please wait"));
    EXPECT_NE(read_for(master, 2000ms, 40).find("Downloading, please wait"), std::string::npos);
    WindowView hidden = shown("Downloading, please wait");
    hidden.visible = false;
    view->render(hidden);
    // Before render returns, not at the view's next redraw: the next program writes at once.
    EXPECT_TRUE(read_for(master, 50ms).ends_with("\r\x1b[K"));

    // A started program that shows itself gets the terminal: the line goes and stays gone.
    view->render(shown("Downloading, please wait"));
    EXPECT_NE(read_for(master, 2000ms, 40).find("Downloading"), std::string::npos);
    view->yield_terminal();
    EXPECT_TRUE(read_for(master, 50ms).ends_with("\r\x1b[K"));
    view->render(shown("Downloading, please wait 2"));
    EXPECT_EQ(read_for(master, 300ms), "");
  }
  ::close(master);
  ::close(terminal);
}

// The signals are the window's events. In a child process, so that blocking them and taking
// them with sigwait does not disturb this test program.
TEST(TerminalView, CtrlCCancelsAndTerminateOrHangUpClose) {
  int events[2];
  ASSERT_EQ(::pipe(events), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    block_window_signals();
    auto view = make_terminal_view(::open("/dev/null", O_WRONLY), ::open("/dev/null", O_RDONLY));
    const int out = events[1];
    WindowCallbacks callbacks;
    callbacks.on_event = [out](WindowEvent event) {
      const char c = event == WindowEvent::cancel ? 'c' : 'x';
      if (::write(out, &c, 1) != 1) _exit(3);
    };
    view->start(std::move(callbacks));
    if (::write(out, "r", 1) != 1) _exit(3);
    std::this_thread::sleep_for(20s);
    _exit(0);
  }
  EXPECT_EQ(read_for(events[0], 5000ms, 1), "r");
  ::kill(child, SIGINT);
  EXPECT_EQ(read_for(events[0], 2000ms, 1), "c");
  ::kill(child, SIGTERM);
  EXPECT_EQ(read_for(events[0], 2000ms, 1), "x");
  ::kill(child, SIGHUP);
  EXPECT_EQ(read_for(events[0], 2000ms, 1), "x");
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the signals did not kill it";
  ::close(events[0]);
  ::close(events[1]);
}

}  // namespace
}  // namespace pellora::platform::posix
