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

}  // namespace standin
