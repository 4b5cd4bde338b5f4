#include "installer/core/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellora {
namespace {

const std::string literal = "TREVALON_INTERNAL_UPDATE_MODE=";

struct Case {
  std::string line;
  char mode;
  std::string forwarded;
};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = parse_command_line(c.line);
    EXPECT_EQ(parsed.update_mode, c.mode) << "line: " << c.line;
    EXPECT_EQ(parsed.forwarded_args, c.forwarded) << "line: " << c.line;
  }
}

TEST(ParseCommandLine, UpdateModeArgument) {
  expect_cases({
      {"", '0', ""},
      {"some args", '0', "some args"},
      {literal + "1", '1', ""},
      {literal + "1 ", '1', ""},
      {literal + "4   /tmp/App folder/appdata.backup", '4', "/tmp/App folder/appdata.backup"},
      {literal + "12 word", '1', "2 word"},
      {literal + "7 a b", '7', "a b"},
      {literal + "5\t\v\f x", '5', "x"},
      // The rest keeps every byte, trailing spaces and quotes included.
      {literal + "2 \"a b\"  c  ", '2', "\"a b\"  c  "},
      // No digit, a letter, lower case, or anything before the literal: not the argument.
      {literal, '0', literal},
      {literal + "x 1", '0', literal + "x 1"},
      {"trevalon_internal_update_mode=1 a", '0', "trevalon_internal_update_mode=1 a"},
      {" " + literal + "1 a", '0', " " + literal + "1 a"},
      // A digit of another script is no \d.
      {literal + "\xD9\xA1 a", '0', literal + "\xD9\xA1 a"},
  });
  for (char digit = '0'; digit <= '9'; ++digit)
    expect_cases({{literal + digit + " x", digit, "x"}});
}

TEST(ParseCommandLine, WideWhiteSpaceAfterTheDigitIsSkippedButCarriageReturnsNeverMatch) {
  for (const std::string space :
       {"\xC2\xA0", "\xEF\xBB\xBF", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x8A", "\xE2\x80\xA8",
        "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"}) {
    expect_cases({{literal + "3" + space + " " + space + "a", '3', "a"}});
  }
  // Close relatives of the wide spaces are ordinary characters: U+200B, U+00A1.
  expect_cases({{literal + "3\xE2\x80\x8Bz", '3', "\xE2\x80\x8Bz"},
                {literal + "3\xC2\xA1", '3', "\xC2\xA1"},
                {literal + "3 a\xE2\x80\xA8z", '3', "a\xE2\x80\xA8z"}});
  for (const std::string& line : {literal + "1 a\nb", literal + "1 a\rb", literal + "1\n",
                                  literal + "1 \r\n", literal + "1\r a"}) {
    expect_cases({{line, '0', line}});
  }
}

TEST(ParseCommandLine, UpdateCheckSwitchIsAPrefix) {
  expect_cases({
      {"--update-check", '5', ""},
      {"--update-check   ", '5', ""},
      {"--update-check  one two", '5', "one two"},
      {"--update-checkfoo", '5', "foo"},
      {"--update-check\tx", '5', "\tx"},
      {"--update-check \t x", '5', "\t x"},
      {" --update-check", '0', " --update-check"},
      {"--UPDATE-CHECK", '0', "--UPDATE-CHECK"},
      {"--update-chec", '0', "--update-chec"},
      // The switch does not care about line ends.
      {"--update-check a\nb", '5', "a\nb"},
  });
}

TEST(ParseCommandLine, LongestWindowsCommandLine) {
  const std::string filler(32767 - literal.size() - 2, 'a');
  const std::string spaces(32767 - literal.size() - 1, ' ');
  const std::string plain(32767, 'x');
  expect_cases({{literal + "1 " + filler, '1', filler},
                {literal + "2" + spaces, '2', ""},
                {plain, '0', plain}});
}

}  // namespace
}  // namespace pellora
