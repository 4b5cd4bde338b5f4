#pragma once
// The Windows command-line rules, used wherever a parameter text becomes argv or back: a
// program started with parameters gets them split as Windows splits a command line, and it
// rebuilds its own command line from argv by joining them, so text passes through unchanged.

#include <string>
#include <vector>

namespace standin {

// Splits a parameter text (no program name) as the C runtime splits a command line.
std::vector<std::string> split_command_line(const std::string& text);
// Joins arguments so that split_command_line gives them back exactly.
std::string join_command_line(const std::vector<std::string>& arguments);

// The variable in which the stand-in's shell hands a started program the exact parameter text
// it split into that program's arguments.
inline constexpr const char* command_line_variable = "TREVALON_PLATFORM_COMMAND_LINE";

// This process's command line after the program name, as Windows would hand it over: the exact
// text the shell was given when it is in command_line_variable and splits into `arguments`
// (runs of blanks, tabs and trailing blanks included), else `arguments` joined. Takes the
// variable out of the environment, so that what this process starts does not inherit it.
std::string command_line_of(const std::vector<std::string>& arguments);

}  // namespace standin
