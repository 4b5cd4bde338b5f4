#pragma once
// The text of a command line after the program's name, as a wide GUI entry point receives it.

#include <string_view>

namespace pellora::platform::windows {

// As the Windows C runtime gives it to wWinMain: the program name ends at the first blank (or
// control character) outside quotes, so `"p.exe"x y` gives `y`; the blanks after it are
// skipped. The rest is returned unchanged.
std::wstring_view text_after_program_name(std::wstring_view command_line);

}  // namespace pellora::platform::windows
