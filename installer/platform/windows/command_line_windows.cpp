#include "installer/platform/windows/command_line_windows.h"

namespace pellora::platform::windows {

std::wstring_view text_after_program_name(std::wstring_view command_line) {
  size_t at = 0;
  if (!command_line.empty() && command_line.front() == L'"') {
    const size_t closing = command_line.find(L'"', 1);
    at = closing == std::wstring_view::npos ? command_line.size() : closing + 1;
  } else {
    while (at < command_line.size() && command_line[at] != L' ' && command_line[at] != L'\t') {
      ++at;
    }
  }
  while (at < command_line.size() && (command_line[at] == L' ' || command_line[at] == L'\t')) {
    ++at;
  }
  return command_line.substr(at);
}

}  // namespace pellora::platform::windows
