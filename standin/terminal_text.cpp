#include "standin/terminal_text.h"

namespace standin {

std::string shown_on_terminal(std::string_view text) {
  static const char digits[] = "0123456789ABCDEF";
  auto escape = [](std::string& out, const char* prefix, unsigned char byte) {
    out += prefix;
    out += digits[byte >> 4];
    out += digits[byte & 0xF];
  };
  std::string shown;
  shown.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n' || byte == '\t' ||
        (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      shown += static_cast<char>(byte);
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) {
      escape(shown, "\\x", byte);
      ++i;
      continue;
    }
    if (byte < 0x80) {
      shown += static_cast<char>(byte);
      ++i;
      continue;
    }
    // A multi-byte character passes whole when it is valid UTF-8 and no C1 control.
    const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
    bool valid = length != 0 && byte <= 0xF4 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (!valid) {
      escape(shown, "\\x", byte);
      ++i;
      continue;
    }
    if (byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      escape(shown, "\\u00", static_cast<unsigned char>(text[i + 1]));
    } else {
      shown.append(text.substr(i, length));
    }
    i += length;
  }
  return shown;
}

}  // namespace standin
