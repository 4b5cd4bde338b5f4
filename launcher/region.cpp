// Built without debug information: a debugger's copy of the region's initial value would be
// a second copy of the marker in the file, and the packaging step must find exactly one.
#include "launcher/region.h"

#include "launcher/config.h"

namespace launcher {
namespace {

// The packaging step finds this region by its marker in the built file and overwrites it, so
// it must sit in the file whole.
__attribute__((used)) constinit const Region burned_in_region = make_region_template();

}  // namespace

std::span<const uint8_t> burned_in_record() {
  const char* bytes = burned_in_region.bytes;
  // The compiler knows the template it put here, but the file holds whatever was burned in
  // later: hide the contents so that every read goes to the bytes of the file.
  asm volatile("" : "+r"(bytes) : : "memory");
  return {reinterpret_cast<const uint8_t*>(bytes), record_capacity};
}

}  // namespace launcher
