#pragma once
// Text on its way to a terminal, as both programs' POSIX backends write it there.

#include <string>
#include <string_view>

namespace standin {

// `text` as it may reach a terminal: control characters other than tab, line feed and a carriage
// return before a line feed, DEL, C1 controls and bytes that are not UTF-8 are shown as escapes
// ("\x1B", "\u009B") instead of being sent, so that no text from a site can drive the terminal.
std::string shown_on_terminal(std::string_view text);

}  // namespace standin
