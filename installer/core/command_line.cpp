#include "installer/core/command_line.h"

#include <string_view>

#include "installer/core/state.h"

namespace pellora {
namespace {

constexpr std::string_view update_check_switch = "--update-check";

// Length in bytes of the white-space character at `text[at]`, or 0 when there is none. White
// space is what an ECMAScript \s matches; the text is UTF-8, so the wide spaces arrive as two
// or three bytes.
size_t white_space_length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const unsigned char first = byte(0);
  switch (first) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
      return 1;
    case 0xC2:  // U+00A0
      return byte(1) == 0xA0 ? 2 : 0;
    case 0xE1:  // U+1680
      return byte(1) == 0x9A && byte(2) == 0x80 ? 3 : 0;
    case 0xE2: {
      const unsigned char second = byte(1);
      const unsigned char third = byte(2);
      if (second == 0x80) {
        // U+2000 to U+200A, U+2028, U+2029, U+202F
        if ((third >= 0x80 && third <= 0x8A) || third == 0xA8 || third == 0xA9 || third == 0xAF) {
          return 3;
        }
        return 0;
      }
      return second == 0x81 && third == 0x9F ? 3 : 0;  // U+205F
    }
    case 0xE3:  // U+3000
      return byte(1) == 0x80 && byte(2) == 0x80 ? 3 : 0;
    case 0xEF:  // U+FEFF
      return byte(1) == 0xBB && byte(2) == 0xBF ? 3 : 0;
    default:
      return 0;
  }
}

// The whole text must be the literal, one digit, white space and a rest in which "." matches
// every character. "." refuses CR and LF, so a line holding either is never the argument.
bool match_update_mode_argument(std::string_view text, ParsedCommandLine& result) {
  const std::string_view literal = update_mode_literal;
  if (text.size() <= literal.size() || text.substr(0, literal.size()) != literal) return false;
  if (text.find_first_of("\r\n") != std::string_view::npos) return false;
  const char digit = text[literal.size()];
  if (digit < '0' || digit > '9') return false;
  size_t rest = literal.size() + 1;
  while (const size_t length = white_space_length(text, rest)) rest += length;
  result.update_mode = digit;
  result.forwarded_args = std::string(text.substr(rest));
  return true;
}

}  // namespace

ParsedCommandLine parse_command_line(const std::string& command_line) {
  ParsedCommandLine result;
  if (match_update_mode_argument(command_line, result)) return result;

  if (std::string_view(command_line).substr(0, update_check_switch.size()) == update_check_switch) {
    result.update_mode = '5';
    const size_t first = command_line.find_first_not_of(' ', update_check_switch.size());
    if (first != std::string::npos) result.forwarded_args = command_line.substr(first);
    return result;
  }

  result.forwarded_args = command_line;
  return result;
}

}  // namespace pellora
