#include "standin/terminal_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace standin {
namespace {

TEST(TerminalText, TextFromASiteCannotDriveTheTerminal) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain text\twith tab\r\nand lines\n", "plain text\twith tab\r\nand lines\n"},
      {"\x1b]0;owned\x07 \x1b[2J", "\\x1B]0;owned\\x07 \\x1B[2J"},
      {"bare\rreturn and \x7f", "bare\\x0Dreturn and \\x7F"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},  // UTF-8 stays
      {"\xC2\x9B"
       "31m \x9B \xC3",
       "\\u009B31m \\x9B \\xC3"},  // C1 and broken bytes
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(shown_on_terminal(text), shown);
}

}  // namespace
}  // namespace standin
