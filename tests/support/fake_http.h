#pragma once
// A fake HTTP client serving bodies from memory, with failures on request.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/platform/http.h"

namespace pellora::testing {

class FakeHttp final : public platform::Http {
 public:
  struct Resource {
    uint32_t status = 200;
    std::string body;
    // Raised by get_buffer / the response read instead of serving the body.
    std::optional<platform::PlatformError> error;
  };

  void set_timeouts(const platform::HttpTimeouts&) override {}
  std::vector<uint8_t> get_buffer(const std::string& uri, uint64_t max_bytes,
                                  std::optional<std::chrono::milliseconds> time_limit) override;
  std::unique_ptr<platform::HttpResponse> get_headers(const std::string& uri) override;

  void serve(const std::string& uri, std::string body, uint32_t status = 200);
  void fail(const std::string& uri, platform::PlatformError error);

  std::map<std::string, Resource> resources;
  std::vector<std::string> requests;
  std::vector<std::optional<std::chrono::milliseconds>> time_limits;  // of each get_buffer
  // Called before each get_buffer answers, where a test lets time pass.
  std::function<void(const std::string& uri)> on_get_buffer;
  size_t chunk_size = 8192;

 private:
  Resource find(const std::string& uri);
  std::mutex mutex_;
};

}  // namespace pellora::testing
