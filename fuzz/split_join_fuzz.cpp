// Joining then splitting any argument list gives it back; splitting never crashes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "standin/command_line_rules.h"

using standin::join_command_line;
using standin::split_command_line;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> split = split_command_line(text);
  // The input, cut at NUL bytes, is also read as an argument list.
  std::vector<std::string> arguments;
  std::string current;
  for (char c : text) {
    if (c == '\0') {
      arguments.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  arguments.push_back(current);
  if (split_command_line(join_command_line(arguments)) != arguments) std::abort();
  if (split_command_line(join_command_line(split)) != split) std::abort();
  return 0;
}
