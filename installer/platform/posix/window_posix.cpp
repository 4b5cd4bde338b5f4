#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "common/write_all.h"
#include "installer/platform/posix/services_posix.h"
#include "installer/platform/posix/terminal_view.h"
#include "installer/platform/posix/win32_errors.h"
#include "standin/terminal_text.h"

namespace pellora::platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto redraw_interval = std::chrono::milliseconds(100);
// What standard error's reader gets to take each piece: the view never holds up the installer.
constexpr std::chrono::milliseconds write_patience(200);
constexpr size_t bar_width = 24;
constexpr size_t marquee_width = 5;
const char* const clear_line = "\r\x1b[K";

sigset_t window_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

// Shortens UTF-8 text to at most `limit` characters without splitting one.
std::string shorten(const std::string& text, size_t limit) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters == limit) return text.substr(0, i);
    ++characters;
  }
  return text;
}

class TerminalView final : public TerminalSurface {
 public:
  TerminalView(int out_fd, int in_fd)
      : out_fd_(out_fd), in_fd_(in_fd), out_is_terminal_(::isatty(out_fd) == 1) {}

  ~TerminalView() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (drawer_.joinable()) drawer_.join();
  }

  void render(const WindowView& view) override {
    {
      std::lock_guard lock(mutex_);
      view_ = view;
      changed_ = true;
      if (!view.visible && line_on_screen_) {
        // A hidden window is gone from the screen at once: the next program's first line must
        // not be glued to the bar.
        write_out(clear_line);
        line_on_screen_ = false;
      }
      // Started on first use rather than at construction, after the caller has blocked the
      // window's signals.
      if (!drawer_.joinable() && !draw_inline_) {
        try {
          drawer_ = std::thread([this] { draw_loop(); });
        } catch (const std::system_error&) {
          // No thread to spare: drawn at each change instead, without the marquee's motion.
          draw_inline_ = true;
        }
      }
      if (draw_inline_) draw_locked();
    }
    wake_.notify_all();
  }

  void set_cursor(Cursor) override {}

  void yield_terminal() override {
    std::lock_guard lock(mutex_);
    yielded_ = true;
    if (line_on_screen_) {
      write_out(clear_line);
      line_on_screen_ = false;
    }
  }

  void message_box(const std::string& text, const std::string& caption) override {
    {
      std::lock_guard lock(mutex_);
      box_open_ = true;
      std::string box;
      if (line_on_screen_) box += clear_line;
      line_on_screen_ = false;
      box += "---- " + caption + " ----\n";
      box += out_is_terminal_ ? standin::shown_on_terminal(text) : text;
      box += "\n";
      write_out(box);
    }
    if (::isatty(in_fd_) == 1) {
      write_out("(press Enter)\n");
      char c = 0;
      for (;;) {
        const ssize_t got = ::read(in_fd_, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || c == '\n') break;
      }
    }
    {
      std::lock_guard lock(mutex_);
      box_open_ = false;
      changed_ = true;
    }
    wake_.notify_all();
  }

  int dpi() override { return 96; }

  // The terminal draws no banner: only the events matter here.
  bool start(WindowCallbacks callbacks) override {
    // The thread owns its copy of the sink and nothing of the view, so it may outlive it.
    try {
      start_event_thread(std::move(callbacks.on_event));
      return true;
    } catch (const std::system_error& error) {
      set_last_error_from_errno(error.code().value());
      return false;
    }
  }

 private:
  static void start_event_thread(std::function<void(WindowEvent)> sink) {
    std::thread([sink = std::move(sink)] {
      const sigset_t signals = window_signals();
      for (;;) {
        int signal = 0;
        if (::sigwait(&signals, &signal) != 0) continue;
        sink(signal == SIGINT ? WindowEvent::cancel : WindowEvent::close);
      }
    }).detach();
  }

  bool animating_locked() const {
    return out_is_terminal_ && view_.visible && view_.marquee && !view_.error_state && !box_open_;
  }

  void draw_loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (!changed_ && !animating_locked()) {
        wake_.wait(lock);
        continue;
      }
      const Clock::time_point due = last_draw_ + redraw_interval;
      if (Clock::now() < due) {
        wake_.wait_until(lock, due);
        continue;
      }
      if (animating_locked()) ++frame_;
      changed_ = false;
      last_draw_ = Clock::now();
      draw_locked();
    }
  }

  void draw_locked() {
    if (box_open_ || yielded_) return;
    if (out_is_terminal_) {
      if (view_.visible) {
        write_out(clear_line + terminal_view_line(view_, frame_, terminal_width()));
        line_on_screen_ = true;
      } else if (line_on_screen_) {
        write_out(clear_line);
        line_on_screen_ = false;
      }
      return;
    }
    // Not a terminal (a log file or a pipe): one whole line per visible change, so that the
    // debug lines around it stay lines of their own.
    if (!view_.visible) {
      last_line_.reset();
      return;
    }
    std::string line = terminal_view_line(view_, 0, 0);
    if (line == last_line_) return;
    write_out(line + "\n");
    last_line_ = std::move(line);
  }

  // A reader that stops taking what is written costs one patience, once: the view then goes
  // on without drawing, and the log file keeps the lines. The mutex is held.
  void write_out(const std::string& text) {
    if (!given_up_) given_up_ = !standin::write_within(out_fd_, text, write_patience);
  }

  size_t terminal_width() const {
    winsize size{};
    if (::ioctl(out_fd_, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
  }

  const int out_fd_;
  const int in_fd_;
  const bool out_is_terminal_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread drawer_;
  WindowView view_;
  bool changed_ = false;
  bool stopping_ = false;
  bool box_open_ = false;
  bool yielded_ = false;
  bool line_on_screen_ = false;
  std::atomic<bool> given_up_{false};
  bool draw_inline_ = false;
  std::optional<std::string> last_line_;
  Clock::time_point last_draw_{};
  unsigned frame_ = 0;
};

}  // namespace

void block_window_signals() {
  const sigset_t signals = window_signals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::unique_ptr<TerminalSurface> make_terminal_view(int out_fd, int in_fd) {
  return std::make_unique<TerminalView>(out_fd, in_fd);
}

TerminalSurface& terminal_view() {
  static TerminalView view(STDERR_FILENO, STDIN_FILENO);
  return view;
}

std::string terminal_view_line(const WindowView& view, unsigned frame, size_t width) {
  std::string bar(bar_width, '-');
  std::string suffix;
  const uint32_t percent = std::min<uint32_t>(view.position, 100);
  if (view.marquee && !view.error_state) {
    // A block sweeping to and fro: the marquee shows that work goes on, not how much.
    const size_t travel = bar_width - marquee_width;
    size_t at = frame % (2 * travel);
    if (at > travel) at = 2 * travel - at;
    bar.replace(at, marquee_width, marquee_width, '=');
  } else {
    const size_t filled = view.marquee ? bar_width : bar_width * percent / 100;
    bar.replace(0, filled, filled, view.error_state ? '!' : '#');
    if (!view.marquee) suffix = " " + std::to_string(percent) + "%";
  }
  if (view.error_state) suffix += " error";
  const std::string tail = "  [" + bar + "]" + suffix;
  std::string title = view.title;
  if (width > 0) {
    // Keep one column free so that the terminal never wraps the line.
    const size_t room = width > tail.size() + 1 ? width - tail.size() - 1 : 0;
    title = shorten(title, room);
  }
  return title + tail;
}

WindowSurface* window_surface() { return &terminal_view(); }

}  // namespace pellora::platform::posix
