#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>

#include "common/write_all.h"
#include "installer/platform/posix/services_posix.h"
#include "installer/platform/posix/terminal_view.h"
#include "standin/terminal_text.h"

namespace pellora::platform::posix {
namespace {

// A record that the reader of standard error does not take within this long is dropped, and
// standard error given up for the rest of the run: the log must never hold up the installer (a
// pipe whose reader stopped, or went away), and the log file keeps every line.
constexpr std::chrono::milliseconds write_patience(200);

// Standard error, one record per call, whole, so that lines of different threads do not mix. A
// text that does not end a line gets a line feed, as a debug-output viewer shows every call on
// its own line.
class StderrDebugOutput final : public DebugOutput {
 public:
  void write(std::string_view text) override {
    // On a terminal the progress view may occupy the current line; a record starts by clearing
    // it, or the two would share a line. The view draws itself again at its next change. A
    // site's text must not drive the terminal: its control characters are shown, not sent.
    std::string record =
        on_terminal_ ? "\r\x1b[K" + standin::shown_on_terminal(text) : std::string(text);
    if (record.empty() || record.back() != '\n') record += '\n';
    std::lock_guard lock(mutex_);
    if (given_up_) return;
    given_up_ = !standin::write_within(STDERR_FILENO, record, write_patience);
  }

 private:
  bool given_up_ = false;
  const bool on_terminal_ = ::isatty(STDERR_FILENO) == 1;
  std::mutex mutex_;
};

}  // namespace

DebugOutput* debug_output() {
  static StderrDebugOutput instance;
  return &instance;
}

}  // namespace pellora::platform::posix
