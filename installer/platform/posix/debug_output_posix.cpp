#include <unistd.h>

#include <cerrno>
#include <string>

#include "installer/platform/posix/services_posix.h"
#include "standin/write_all.h"

namespace pellora::platform::posix {
namespace {

// Standard error, one write per call so that lines of different threads do not mix. A text
// that does not end a line gets a line feed, as a debug-output viewer shows every call on its
// own line.
class StderrDebugOutput final : public DebugOutput {
 public:
  void write(std::string_view text) override {
    // On a terminal the progress view may occupy the current line; a record starts by clearing
    // it, or the two would share a line. The view draws itself again at its next change.
    std::string record = on_terminal_ ? "\r\x1b[K" : "";
    record += text;
    if (record.empty() || record.back() != '\n') record += '\n';
    standin::write_all(STDERR_FILENO, record);
  }

 private:
  const bool on_terminal_ = ::isatty(STDERR_FILENO) == 1;
};

}  // namespace

DebugOutput* debug_output() {
  static StderrDebugOutput instance;
  return &instance;
}

}  // namespace pellora::platform::posix
