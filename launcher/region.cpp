// Built without debug information: a debugger's copy of the region's initial value would be
// a second copy of the marker in the file, and the packaging step must find exactly one.
#include "launcher/region.h"

#include "launcher/config.h"

namespace launcher {
namespace {

// The packaging step finds this region by its marker in the built file and overwrites it, so
// it must sit in the file whole.
#if defined(__GNUC__)
[[gnu::used]]
#endif
constinit const Region burned_in_region = make_region_template();

// The compiler knows the template it put in the region, but the file holds whatever was burned
// in later: reading the address through a volatile pointer sends every read to the file's bytes.
const char* const volatile region_bytes = burned_in_region.bytes;

}  // namespace

std::span<const uint8_t> burned_in_record() {
  return {reinterpret_cast<const uint8_t*>(region_bytes), record_capacity};
}

}  // namespace launcher
