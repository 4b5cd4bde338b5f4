#include "installer/core/http_timeouts.h"

#include <charconv>
#include <optional>
#include <string>

#include "installer/platform/services.h"

namespace pellora {
namespace {

uint32_t milliseconds_from_environment(const std::string& name, uint32_t fallback) {
  const std::optional<std::string> text = platform::services().system->get_env(name);
  if (!text || text->empty()) return fallback;
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  return error == std::errc() && end == text->data() + text->size() && value > 0 ? value : fallback;
}

}  // namespace

platform::HttpTimeouts http_timeouts() {
  platform::HttpTimeouts timeouts;
  timeouts.connect_ms =
      milliseconds_from_environment("TREVALON_HTTP_CONNECT_TIMEOUT_MS", timeouts.connect_ms);
  timeouts.stall_ms =
      milliseconds_from_environment("TREVALON_HTTP_STALL_TIMEOUT_MS", timeouts.stall_ms);
  return timeouts;
}

}  // namespace pellora
