#pragma once
// The text of a command line after the program's name, as a wide GUI entry point receives it.

#include <string_view>

namespace pellora::platform::windows {

// The program name ends at the closing quote when it begins with one, else at the first blank or
// tab; the blanks and tabs after it are skipped. The rest is returned unchanged.
std::wstring_view text_after_program_name(std::wstring_view command_line);

}  // namespace pellora::platform::windows
