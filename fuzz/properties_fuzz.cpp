// The metadata parser and the line unescaper on arbitrary text: only the documented
// invalid-argument error may leave them.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "installer/settings/metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    (void)pellora::parse_properties(text);
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  std::string line = text;
  try {
    (void)pellora::unescape_properties_line(line);
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  return 0;
}
