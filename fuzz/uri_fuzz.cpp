// The URI parser and query decoder: any text either parses or raises the platform error.
#include <cstdint>
#include <string>

#include "common/error.h"
#include "installer/core/uri.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const pellora::Uri uri(text);
    (void)uri.to_string();
    (void)uri.query_parsed();
  } catch (const pellora::platform::PlatformError&) {
  }
  return 0;
}
