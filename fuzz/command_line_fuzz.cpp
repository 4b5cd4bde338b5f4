// Any command line parses; what is forwarded is always a tail of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "installer/core/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const pellora::ParsedCommandLine parsed = pellora::parse_command_line(line);
  if (!line.ends_with(parsed.forwarded_args)) std::abort();
  if (parsed.update_mode < '0' || parsed.update_mode > '9') std::abort();
  return 0;
}
