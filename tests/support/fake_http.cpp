#include "tests/support/fake_http.h"

#include <algorithm>
#include <atomic>

namespace pellora::testing {
namespace {

platform::PlatformError status_error(uint32_t status) {
  return platform::PlatformError(platform::hresult::http_status_base + status,
                                 "Status " + std::to_string(status) + ".");
}

class FakeResponse final : public platform::HttpResponse {
 public:
  FakeResponse(FakeHttp::Resource resource, size_t chunk_size)
      : resource_(std::move(resource)), chunk_size_(chunk_size) {}

  uint32_t status() const override { return resource_.status; }
  void ensure_success_status_code() const override {
    if (resource_.status < 200 || resource_.status > 299) throw status_error(resource_.status);
  }
  std::optional<uint64_t> content_length() const override { return resource_.body.size(); }
  size_t read(uint8_t* buffer, size_t capacity) override {
    if (cancelled_) throw platform::cancelled_error();
    if (resource_.error) throw *resource_.error;
    const size_t count = std::min({capacity, chunk_size_, resource_.body.size() - position_});
    std::copy_n(resource_.body.data() + position_, count, buffer);
    position_ += count;
    return count;
  }
  void cancel() override { cancelled_ = true; }

 private:
  FakeHttp::Resource resource_;
  size_t chunk_size_;
  size_t position_ = 0;
  std::atomic<bool> cancelled_{false};
};

}  // namespace

void FakeHttp::serve(const std::string& uri, std::string body, uint32_t status) {
  Resource resource;
  resource.body = std::move(body);
  resource.status = status;
  resources[uri] = resource;
}

void FakeHttp::fail(const std::string& uri, platform::PlatformError error) {
  Resource resource;
  resource.error = std::move(error);
  resources[uri] = resource;
}

FakeHttp::Resource FakeHttp::find(const std::string& uri) {
  std::lock_guard lock(mutex_);
  requests.push_back(uri);
  auto found = resources.find(uri);
  if (found == resources.end()) {
    Resource missing;
    missing.status = 404;
    return missing;
  }
  return found->second;
}

std::vector<uint8_t> FakeHttp::get_buffer(const std::string& uri, uint64_t max_bytes,
                                          std::optional<std::chrono::milliseconds> time_limit) {
  {
    std::lock_guard lock(mutex_);
    time_limits.push_back(time_limit);
  }
  if (on_get_buffer) on_get_buffer(uri);
  Resource resource = find(uri);
  if (resource.error) throw *resource.error;
  if (resource.status < 200 || resource.status > 299) throw status_error(resource.status);
  if (resource.body.size() > max_bytes) {
    throw platform::PlatformError(platform::hresult::fail, "The response is too large.");
  }
  return std::vector<uint8_t>(resource.body.begin(), resource.body.end());
}

std::unique_ptr<platform::HttpResponse> FakeHttp::get_headers(const std::string& uri) {
  Resource resource = find(uri);
  if (resource.error && resource.status == 200 && resource.body.empty()) throw *resource.error;
  return std::make_unique<FakeResponse>(resource, chunk_size);
}

}  // namespace pellora::testing
