#include "installer/core/diagnostics.h"

#include <cstdio>

#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

void log_line(std::string_view text) { platform::services().debug->write(text); }

void log_utf8_line(std::string_view utf8_text) {
  std::string line(utf8_text);
  line += '\n';
  platform::services().debug->write(line);
}

std::string last_error_text() {
  const uint32_t code = platform::get_last_error();
  return "[" + std::to_string(code) + "]: " + platform::format_message(code);
}

std::string hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", value);
  return buffer;
}

}  // namespace pellora
