#include "standin/command_line_rules.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace standin {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLineRules, SplitsLikeTheWindowsRuntime) {
  EXPECT_EQ(split_command_line(""), Args{});
  EXPECT_EQ(split_command_line("  a\tb  "), (Args{"a", "b"}));
  EXPECT_EQ(split_command_line(R"("a b" c)"), (Args{"a b", "c"}));
  EXPECT_EQ(split_command_line(R"(a\\b)"), (Args{R"(a\\b)"}));
  EXPECT_EQ(split_command_line(R"(a\"b)"), (Args{"a\"b"}));
  EXPECT_EQ(split_command_line(R"(a\\"b c")"), (Args{R"(a\b c)"}));
  EXPECT_EQ(split_command_line(R"("")"), (Args{""}));
  EXPECT_EQ(split_command_line(R"("a""b")"), (Args{"a\"b"}));
  EXPECT_EQ(split_command_line("C:\\Program Files\\x"), (Args{"C:\\Program", "Files\\x"}));
}

// That a join splits back into its arguments, whatever they hold, is the split_join fuzz target's
// property; here, that simple arguments stay unquoted.
TEST(CommandLineRules, JoinQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(join_command_line({"a", "b=c", "--x"}), "a b=c --x");
  EXPECT_EQ(join_command_line({"a b"}), "\"a b\"");
  EXPECT_EQ(join_command_line({""}), "\"\"");
}

TEST(CommandLineRules, TheShellsTextIsTakenOnlyWhenItDescribesTheArguments) {
  ::setenv(command_line_variable, "a  b ", 1);
  EXPECT_EQ(command_line_of({"a", "b"}), "a  b ");
  EXPECT_EQ(std::getenv(command_line_variable), nullptr) << "not passed on to children";
  ::setenv(command_line_variable, "inherited  text", 1);  // from a process we were not
  EXPECT_EQ(command_line_of({"a b", "c"}), "\"a b\" c");
  EXPECT_EQ(command_line_of({}), "");
}

}  // namespace
}  // namespace standin
