#pragma once
// The burned-in region of the launcher executable.

#include <cstdint>
#include <span>

namespace launcher {

// The bytes of the region that a record may use (all but its final NUL), as they are in the
// file at run time.
std::span<const uint8_t> burned_in_record();

}  // namespace launcher
