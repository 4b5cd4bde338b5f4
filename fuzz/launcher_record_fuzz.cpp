// The launcher's record parse reads nothing outside the region, whatever it holds, and a record
// it accepts keeps its counts within their byte range.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "launcher/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const launcher::ConfigParseResult result =
      launcher::parse_launcher_record(std::span<const uint8_t>(data, size));
  if (result.ok) {
    if (result.config.jvm_options.size() > 255 || result.config.default_args.size() > 255) {
      std::abort();
    }
  } else if (result.error.empty()) {
    std::abort();
  }
  return 0;
}
