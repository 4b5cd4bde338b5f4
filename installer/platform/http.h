#pragma once
// HTTP as the Windows HTTP client offers it, with caching bypassed on reads. Failures raise
// PlatformError with the HRESULTs the Windows stack reports (0x80190000 + status for a status
// outside 2xx, 0x80072EFD refused, 0x80072EE7 unknown host, 0x80072EE2 time-out, 0x800704C7
// cancelled).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/cancellable.h"

namespace pellora::platform {

// A response whose headers have arrived; the body is read as it comes.
class HttpResponse : public Cancellable {
 public:
  virtual uint32_t status() const = 0;
  // EnsureSuccessStatusCode: raises PlatformError(0x80190000 + status, e.g. "Not found (404).")
  // for a status outside 200-299.
  virtual void ensure_success_status_code() const = 0;
  // Content-Length when the server sent one.
  virtual std::optional<uint64_t> content_length() const = 0;
  // Reads at most `capacity` bytes, blocking until some arrive; 0 at the end of the body.
  // Raises PlatformError when the transfer fails, the cancellation error after cancel().
  virtual size_t read(uint8_t* buffer, size_t capacity) = 0;
  // Any thread; a blocked read returns promptly (within 100 ms) with the cancellation error.
  void cancel() override = 0;
};

// How long a transfer waits for its connection, and for the next bytes once it has started.
struct HttpTimeouts {
  uint32_t connect_ms = 30000;
  uint32_t stall_ms = 60000;
};

class Http {
 public:
  virtual ~Http() = default;
  // The time-outs of the transfers started from now on (the core's; Windows' defaults until
  // set). Any thread.
  virtual void set_timeouts(const HttpTimeouts& timeouts) = 0;
  // GetBufferAsync: the whole body of a successful response. A body larger than max_bytes fails
  // with a PlatformError instead of being held in memory. With a `time_limit`, a request not
  // done within it (connecting, waiting or receiving) is abandoned with the time-out error.
  virtual std::vector<uint8_t> get_buffer(const std::string& uri, uint64_t max_bytes,
                                          std::optional<std::chrono::milliseconds> time_limit) = 0;
  // GetAsync with ResponseHeadersRead: completes when the headers have arrived. The status is
  // not checked here.
  virtual std::unique_ptr<HttpResponse> get_headers(const std::string& uri) = 0;
};

}  // namespace pellora::platform
