#pragma once
// The time-outs of every HTTP transfer: Windows' defaults, which tests shorten through the
// environment so no test waits a minute.

#include <cstdlib>

namespace standin {

struct HttpTimeouts {
  long connect_ms = 30000;
  long stall_ms = 60000;
};

namespace detail {
inline long milliseconds_from_environment(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return (*end == '\0' && value > 0) ? value : fallback;
}
}  // namespace detail

// Read afresh from the environment at each call.
inline HttpTimeouts http_timeouts() {
  HttpTimeouts timeouts;
  timeouts.connect_ms = detail::milliseconds_from_environment("TREVALON_HTTP_CONNECT_TIMEOUT_MS",
                                                              timeouts.connect_ms);
  timeouts.stall_ms =
      detail::milliseconds_from_environment("TREVALON_HTTP_STALL_TIMEOUT_MS", timeouts.stall_ms);
  return timeouts;
}

}  // namespace standin
