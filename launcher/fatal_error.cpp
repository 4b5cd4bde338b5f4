#include "launcher/fatal_error.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "launcher/platform/platform.h"

namespace launcher {

void fatal_error(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  std::string message(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(message.data(), message.size() + 1, format, arguments);
  va_end(arguments);
  platform::write_standard_error(message);
  platform::write_standard_error("\r");
  platform::write_standard_error("\n");
  platform::exit_process(1);
}

}  // namespace launcher
