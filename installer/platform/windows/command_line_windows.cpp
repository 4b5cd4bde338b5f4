#include "installer/platform/windows/command_line_windows.h"

namespace pellora::platform::windows {

// The C runtime's reading for a wide GUI entry point: the name runs to the first blank or
// control character outside quotes, each quote turning quoting on or off, so that text right
// after a closing quote still belongs to the name; then the blanks and control characters
// after it are skipped.
std::wstring_view text_after_program_name(std::wstring_view command_line) {
  size_t at = 0;
  bool quoted = false;
  while (at < command_line.size() && (command_line[at] > L' ' || quoted)) {
    if (command_line[at] == L'"') quoted = !quoted;
    ++at;
  }
  while (at < command_line.size() && command_line[at] <= L' ') ++at;
  return command_line.substr(at);
}

}  // namespace pellora::platform::windows
