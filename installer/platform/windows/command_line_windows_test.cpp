#include "installer/platform/windows/command_line_windows.h"

#include <gtest/gtest.h>

namespace pellora::platform::windows {
namespace {

TEST(TextAfterProgramName, SkipsTheNameAsTheWideEntryPointDoes) {
  const struct {
    const wchar_t* command_line;
    const wchar_t* rest;
  } cases[] = {
      {L"pellora.exe", L""},
      {L"pellora.exe --update-check", L"--update-check"},
      {L"\"C:\\Program Files\\pellora.exe\" \t TREVALON_INTERNAL_UPDATE_MODE=1 a  b ",
       L"TREVALON_INTERNAL_UPDATE_MODE=1 a  b "},
      // Text right after the closing quote still belongs to the name.
      {L"\"C:\\a b\\p.exe\"x y", L"y"},
      {L"p\"a b\"c d", L"d"},
      {L"\"unterminated name", L""},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_after_program_name(c.command_line), c.rest) << c.command_line;
  }
}

}  // namespace
}  // namespace pellora::platform::windows
