#include "standin/command_line_rules.h"

#include <cstdlib>

namespace standin {
namespace {

bool needs_quotes(const std::string& argument) {
  if (argument.empty()) return true;
  return argument.find_first_of(" \t\n\v\"") != std::string::npos;
}

}  // namespace

std::vector<std::string> split_command_line(const std::string& text) {
  std::vector<std::string> arguments;
  const size_t n = text.size();
  size_t i = 0;
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    std::string argument;
    bool in_quotes = false;
    while (i < n) {
      const char c = text[i];
      if ((c == ' ' || c == '\t') && !in_quotes) break;
      if (c == '\\') {
        size_t j = i;
        while (j < n && text[j] == '\\') ++j;
        const size_t count = j - i;
        if (j < n && text[j] == '"') {
          argument.append(count / 2, '\\');
          if (count % 2 == 1) {
            argument += '"';
            i = j + 1;
          } else {
            i = j;  // the quote is handled below
          }
        } else {
          argument.append(count, '\\');
          i = j;
        }
        continue;
      }
      if (c == '"') {
        if (in_quotes && i + 1 < n && text[i + 1] == '"') {
          argument += '"';  // "" inside quotes is a literal quote
          i += 2;
          continue;
        }
        in_quotes = !in_quotes;
        ++i;
        continue;
      }
      argument += c;
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string join_command_line(const std::vector<std::string>& arguments) {
  std::string text;
  for (size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (index > 0) text += ' ';
    if (!needs_quotes(argument)) {
      text += argument;
      continue;
    }
    text += '"';
    size_t backslashes = 0;
    for (char c : argument) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        text.append(backslashes * 2 + 1, '\\');
      } else {
        text.append(backslashes, '\\');
      }
      backslashes = 0;
      text += c;
    }
    text.append(backslashes * 2, '\\');
    text += '"';
  }
  return text;
}

std::string command_line_of(const std::vector<std::string>& arguments) {
  std::string given;
  if (const char* value = std::getenv(command_line_variable)) given = value;
  ::unsetenv(command_line_variable);
  // A variable inherited from elsewhere does not describe these arguments; then they are all
  // there is to go by.
  if (!given.empty() && split_command_line(given) == arguments) return given;
  return join_command_line(arguments);
}

}  // namespace standin
