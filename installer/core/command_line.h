#pragma once
#include <string>

namespace pellora {

struct ParsedCommandLine {
  char update_mode = '0';
  std::string forwarded_args;
};

// The run mode and the arguments to pass on, from the text after the program name.
ParsedCommandLine parse_command_line(const std::string& command_line);

}  // namespace pellora
