#pragma once
// The deployment service's own downloads: the .appinstaller file in one GET, the package in
// HTTP range requests of a fixed size, as the Windows delivery service fetches packages. Cancel
// is prompt (the transfer's poll is woken up), even while a server stalls.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace standin {

struct TransferOutcome {
  uint32_t hresult = 0;  // 0 on success
  std::string message;   // what went wrong, as Windows words it where it has a text
  bool ok() const { return hresult == 0; }
};

class RangeDownloader {
 public:
  static constexpr uint64_t chunk_size = 256 * 1024;

  RangeDownloader();
  ~RangeDownloader();
  RangeDownloader(const RangeDownloader&) = delete;
  RangeDownloader& operator=(const RangeDownloader&) = delete;

  // Any thread. The transfer under way ends with the cancellation HRESULT; later ones at once.
  void cancel();
  bool cancelled() const { return cancelled_; }

  // GET of a small document (at most max_bytes).
  TransferOutcome get(const std::string& url, std::string& body, uint64_t max_bytes);
  // Downloads `url` into the file at `path` in range requests; progress(received, total) after
  // every write. A server that answers a range request with the whole body fails with
  // 0x80D05011.
  TransferOutcome download(const std::string& url, const std::string& path,
                           const std::function<void(uint64_t, uint64_t)>& progress);

 private:
  // Runs one easy transfer on the multi handle; returns the CURLcode.
  int perform(void* easy);

  void* multi_ = nullptr;
  std::mutex multi_mutex_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace standin
