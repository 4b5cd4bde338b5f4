#pragma once
// The progress window as a terminal view: status and bar on one line of standard error while
// the window is shown; Ctrl-C is Cancel, SIGTERM and SIGHUP close the window.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "installer/platform/window_surface.h"
#include "standin/terminal_text.h"

namespace pellora::platform::posix {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread it starts
// later. Call it on the main thread before any other thread exists: the view's event thread
// takes these signals with sigwait, and a thread that left them unblocked would die of them.
void block_window_signals();

class TerminalSurface : public WindowSurface {
 public:
  // A program that shows itself was started on this terminal: the view erases its line and
  // draws no more, so that the program's output starts on a line of its own (on Windows the
  // program's window opens in front of ours). Any thread.
  virtual void yield_terminal() = 0;
};

// A view drawing on `out_fd` (in place on a terminal, one line per change otherwise, at most
// about ten times a second) whose message box waits for Enter on `in_fd` when that is a
// terminal.
std::unique_ptr<TerminalSurface> make_terminal_view(int out_fd, int in_fd);

// This process's view, on standard error: the backend's window surface.
TerminalSurface& terminal_view();

// The line drawn for `view`, without a line end: the status, the bar and, for a determinate
// bar, the percentage. `frame` moves the marquee; `width` (0: no limit) shortens the status so
// that the line fits.
std::string terminal_view_line(const WindowView& view, unsigned frame, size_t width);

}  // namespace pellora::platform::posix
