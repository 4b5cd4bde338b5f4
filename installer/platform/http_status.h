#pragma once
// What every HTTP backend shares: the error for a status outside 2xx as the Windows HTTP client
// raises it, and reading a whole body within a size limit.

#include <cstdint>
#include <vector>

#include "common/error.h"
#include "installer/platform/http.h"

namespace pellora::platform {

// EnsureSuccessStatusCode's error: 0x80190000 + status, "Not found (404)." and the like.
PlatformError http_status_error(uint32_t status);

// GetBufferAsync's body: checks the status, then reads to the end. A body larger than
// `max_bytes` raises PlatformError (0x800700DF) before it is held in memory.
std::vector<uint8_t> read_whole_body(HttpResponse& response, uint64_t max_bytes);

}  // namespace pellora::platform
