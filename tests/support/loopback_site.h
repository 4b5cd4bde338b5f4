#pragma once
// A folder served over HTTP on 127.0.0.1 for end-to-end tests, with range requests answered
// (206 and Content-Range) unless refused, and an optional slow mode that trickles bodies out.

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace pellora::testing {

class LoopbackSite {
 public:
  explicit LoopbackSite(std::string folder);
  ~LoopbackSite();
  LoopbackSite(const LoopbackSite&) = delete;
  LoopbackSite& operator=(const LoopbackSite&) = delete;

  // "http://127.0.0.1:<port>/".
  std::string base_url() const;

  // Answer range requests with the whole body (status 200), as servers without range support do.
  void set_refuse_ranges(bool refuse) { refuse_ranges_ = refuse; }
  // Send bodies 16 KiB every 50 ms.
  void set_slow(bool slow) { slow_ = slow; }

  int range_requests() const { return range_requests_; }

 private:
  std::string folder_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<bool> refuse_ranges_{false};
  std::atomic<bool> slow_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<int> range_requests_{0};
};

}  // namespace pellora::testing
