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
  for (char digit = '0'; digit <= '9'; ++digit) {
    const ParsedCommandLine parsed = parse_command_line(literal + digit + " x");
    EXPECT_EQ(parsed.update_mode, digit);
    EXPECT_EQ(parsed.forwarded_args, "x");
  }
}

TEST(ParseCommandLine, WideWhiteSpaceAfterTheDigitIsSkipped) {
  const std::vector<std::string> spaces = {
      "\xC2\xA0",     "\xEF\xBB\xBF", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x8A",
      "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
  };
  for (const std::string& space : spaces) {
    const ParsedCommandLine parsed = parse_command_line(literal + "3" + space + " " + space + "a");
    EXPECT_EQ(parsed.update_mode, '3');
    EXPECT_EQ(parsed.forwarded_args, "a") << "space bytes of length " << space.size();
  }
  // Close relatives of the wide spaces are ordinary characters.
  expect_cases({
      {literal + "3\xE2\x80\x8B"
                 "a",
       '3',
       "\xE2\x80\x8B"
       "a"},                                     // U+200B
      {literal + "3\xC2\xA1", '3', "\xC2\xA1"},  // U+00A1
      {literal + "3 \xE2\x80\xA8", '3', ""},     // U+2028 is white space
      {literal + "3 a\xE2\x80\xA8"
                 "b",
       '3',
       "a\xE2\x80\xA8"
       "b"},
  });
}

TEST(ParseCommandLine, CarriageReturnOrLineFeedNeverMatches) {
  for (const std::string& line : {literal + "1 a\nb", literal + "1 a\rb", literal + "1\n",
                                  literal + "1 \r\n", literal + "1 a\n", literal + "1\r a"}) {
    const ParsedCommandLine parsed = parse_command_line(line);
    EXPECT_EQ(parsed.update_mode, '0');
    EXPECT_EQ(parsed.forwarded_args, line);
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
  ParsedCommandLine parsed = parse_command_line(literal + "1 " + filler);
  EXPECT_EQ(parsed.update_mode, '1');
  EXPECT_EQ(parsed.forwarded_args, filler);

  const std::string spaces(32767 - literal.size() - 1, ' ');
  parsed = parse_command_line(literal + "2" + spaces);
  EXPECT_EQ(parsed.update_mode, '2');
  EXPECT_EQ(parsed.forwarded_args, "");

  const std::string plain(32767, 'x');
  EXPECT_EQ(parse_command_line(plain).forwarded_args, plain);
}

}  // namespace
}  // namespace pellora
