// The run-mode parse must accept any command line without crashing, and its result must be
// consistent with the text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "installer/core/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const pellora::ParsedCommandLine parsed = pellora::parse_command_line(text);
  if (parsed.update_mode < '0' || parsed.update_mode > '9') std::abort();
  if (!text.ends_with(parsed.forwarded_args)) std::abort();
  if (parsed.update_mode == '0' && parsed.forwarded_args != text &&
      text.rfind("TREVALON_INTERNAL_UPDATE_MODE=", 0) != 0) {
    std::abort();
  }
  return 0;
}
