// HTTP on libcurl. Each response drives its own multi handle on the reading thread, so that a
// cancel from another thread can wake a wait on a silent server at once (curl_multi_wakeup);
// the easy interface would only notice about once a second.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "common/error.h"
#include "installer/platform/http_status.h"
#include "installer/platform/posix/http_rules.h"
#include "installer/platform/posix/services_posix.h"
#include "standin/curl_library.h"

namespace pellora::platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

using hresult::connection_aborted;
using hresult::invalid_ca;
using hresult::redirect_failed;
using hresult::secure_failure;
using hresult::unrecognized_scheme;
using standin::curl_library;

PlatformError timeout_error() { return PlatformError(hresult::timeout, "The operation timed out"); }

PlatformError error_from_curl(CURLcode code, const char* detail, bool redirected) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
      return PlatformError(hresult::cannot_connect,
                           "A connection with the server could not be established");
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return PlatformError(hresult::name_not_resolved,
                           "The server name or address could not be resolved");
    case CURLE_OPERATION_TIMEDOUT:
      return timeout_error();
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
      return PlatformError(connection_aborted,
                           "The connection with the server was terminated abnormally");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return PlatformError(hresult::connection_reset, "The connection with the server was reset");
    case CURLE_TOO_MANY_REDIRECTS:
      return PlatformError(redirect_failed, "The HTTP redirect request failed");
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      if (redirected) return PlatformError(redirect_failed, "The HTTP redirect request failed");
      return PlatformError(unrecognized_scheme, "The URL does not use a recognized protocol");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return PlatformError(invalid_ca, "The certificate authority is invalid or incorrect");
    case CURLE_SSL_CONNECT_ERROR:
      return PlatformError(secure_failure, "A security error occurred");
    default:
      break;
  }
  std::string message = curl_library().easy_strerror(code);
  if (detail != nullptr && *detail != '\0') message += std::string(": ") + detail;
  return PlatformError(hresult::fail, message);
}

}  // namespace

bool starts_with_no_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool is_followed_redirect(long status) { return status >= 300 && status <= 399 && status != 304; }

bool refuses_redirect(long status, std::string_view current_url, std::string_view location) {
  while (!location.empty() && (location.front() == ' ' || location.front() == '\t')) {
    location.remove_prefix(1);
  }
  return is_followed_redirect(status) && starts_with_no_case(current_url, "https:") &&
         starts_with_no_case(location, "http:");
}

namespace {

class CurlResponse final : public HttpResponse {
 public:
  CurlResponse(const std::string& uri, const HttpTimeouts& timeouts,
               std::optional<Clock::time_point> deadline = std::nullopt)
      : timeouts_(timeouts), deadline_(deadline) {
    easy_ = curl_library().easy_init();
    multi_ = curl_library().multi_init();
    if (easy_ == nullptr || multi_ == nullptr) {
      cleanup();
      throw PlatformError(hresult::fail, "Could not start an HTTP request");
    }
    error_buffer_[0] = '\0';
    request_headers_ = curl_library().slist_append(nullptr, "Cache-Control: no-cache");
    curl_library().easy_setopt(easy_, CURLOPT_URL, uri.c_str());
    curl_library().easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    curl_library().easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_library().easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_library().easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
    curl_library().easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_library().easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                               static_cast<long>(timeouts_.connect_ms));
    curl_library().easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_library().easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_library().easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_library().easy_setopt(easy_, CURLOPT_HTTPHEADER, request_headers_);
    curl_library().easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_buffer_);
    curl_library().easy_setopt(easy_, CURLOPT_BUFFERSIZE, 64L * 1024L);
    curl_library().easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlResponse::on_header);
    curl_library().easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_library().easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlResponse::on_body);
    curl_library().easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_library().multi_add_handle(multi_, easy_);
    last_activity_ = Clock::now();
  }

  ~CurlResponse() override { cleanup(); }

  CurlResponse(const CurlResponse&) = delete;
  CurlResponse& operator=(const CurlResponse&) = delete;

  // Blocks until the final response's headers are in (redirects followed).
  void wait_for_headers() {
    drive([this] { return headers_done_; });
    if (!headers_done_) throw_transfer_error();
  }

  uint32_t status() const override { return status_; }

  void ensure_success_status_code() const override {
    if (status_ >= 200 && status_ <= 299) return;
    throw http_status_error(status_);
  }

  std::optional<uint64_t> content_length() const override { return content_length_; }

  size_t read(uint8_t* buffer, size_t capacity) override {
    if (cancelled_) throw cancelled_error();
    if (capacity == 0) return 0;
    if (pending_offset_ == pending_.size()) {
      pending_.clear();
      pending_offset_ = 0;
      drive([this] { return pending_offset_ < pending_.size(); });
    }
    if (pending_offset_ < pending_.size()) {
      const size_t count = std::min(capacity, pending_.size() - pending_offset_);
      std::memcpy(buffer, pending_.data() + pending_offset_, count);
      pending_offset_ += count;
      return count;
    }
    // Nothing left to hand out: the transfer has ended, well or badly.
    if (result_ != CURLE_OK) throw_transfer_error();
    return 0;
  }

  void cancel() override {
    cancelled_ = true;
    std::lock_guard lock(multi_mutex_);
    if (multi_ != nullptr) curl_library().multi_wakeup(multi_);
  }

 private:
  static size_t on_header(char* data, size_t size, size_t count, void* self_pointer) {
    auto* self = static_cast<CurlResponse*>(self_pointer);
    const std::string_view line(data, size * count);
    self->last_activity_ = Clock::now();
    if (starts_with_no_case(line, "http/")) {
      // A new response (after a redirect or an interim 1xx) starts over.
      self->header_status_ = 0;
      self->header_length_.reset();
      self->header_chunked_ = false;
      self->header_location_ = false;
      const size_t space = line.find(' ');
      if (space != std::string_view::npos) {
        self->header_status_ =
            std::strtol(std::string(line.substr(space + 1, 3)).c_str(), nullptr, 10);
      }
    } else if (starts_with_no_case(line, "content-length:")) {
      const std::string value(line.substr(15));
      char* end = nullptr;
      const unsigned long long length = std::strtoull(value.c_str(), &end, 10);
      if (end != value.c_str()) self->header_length_ = length;
    } else if (starts_with_no_case(line, "transfer-encoding:")) {
      self->header_chunked_ = line.find("chunked") != std::string_view::npos;
    } else if (starts_with_no_case(line, "location:")) {
      self->header_location_ = true;
      // Windows' stack never follows a redirect from https down to http, at any hop. A
      // relative or scheme-relative target keeps the current scheme. A Location on a response
      // that is not followed (a 200, a 304) is only a header.
      char* current = nullptr;
      curl_library().easy_getinfo(self->easy_, CURLINFO_EFFECTIVE_URL, &current);
      if (refuses_redirect(self->header_status_, current != nullptr ? current : "",
                           line.substr(9))) {
        self->redirected_ = true;
        self->downgrade_refused_ = true;
        return 0;  // ends the transfer
      }
    } else if (line == "\r\n" || line == "\n") {
      const long status = self->header_status_;
      if (status >= 100 && status <= 199) return size * count;
      if (is_followed_redirect(status) && self->header_location_) {
        self->redirected_ = true;
        return size * count;
      }
      self->headers_done_ = true;
      self->status_ = static_cast<uint32_t>(status);
      if (!self->header_chunked_) self->content_length_ = self->header_length_;
    }
    return size * count;
  }

  static size_t on_body(char* data, size_t size, size_t count, void* self_pointer) {
    auto* self = static_cast<CurlResponse*>(self_pointer);
    self->last_activity_ = Clock::now();
    self->headers_done_ = true;
    self->pending_.append(data, size * count);
    return size * count;
  }

  // Runs the transfer on this thread until `ready` holds or the transfer ends. Raises the
  // cancellation error after cancel() and the time-out error when no byte came for too long.
  template <class Ready>
  void drive(Ready ready) {
    while (!ready() && !finished_) {
      if (cancelled_) throw cancelled_error();
      int running = 0;
      const CURLMcode code = curl_library().multi_perform(multi_, &running);
      if (code != CURLM_OK) throw PlatformError(hresult::fail, curl_library().multi_strerror(code));
      int left = 0;
      while (CURLMsg* message = curl_library().multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) {
          finished_ = true;
          result_ = message->data.result;
        }
      }
      if (ready() || finished_) break;
      if (cancelled_) throw cancelled_error();
      // The stall clock runs from the moment the connection stands; before that the connect
      // time-out is in charge.
      curl_off_t connected = 0;
      curl_library().easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connected);
      const auto now = Clock::now();
      if (deadline_ && now >= *deadline_) throw timeout_error();
      if (connected == 0) {
        last_activity_ = now;
      } else if (now - last_activity_ > std::chrono::milliseconds(timeouts_.stall_ms)) {
        throw timeout_error();
      }
      // Never sleep past the deadline: the time limit is what a waiting user sees.
      int poll_ms = 100;
      if (deadline_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - now).count() + 1;
        if (left < poll_ms) poll_ms = static_cast<int>(left);
      }
      curl_library().multi_poll(multi_, nullptr, 0, poll_ms, nullptr);
    }
  }

  [[noreturn]] void throw_transfer_error() {
    if (downgrade_refused_) {
      throw PlatformError(redirect_failed, "The HTTP redirect request failed");
    }
    throw error_from_curl(result_ == CURLE_OK ? CURLE_GOT_NOTHING : result_, error_buffer_,
                          redirected_);
  }

  void cleanup() {
    std::lock_guard lock(multi_mutex_);
    if (multi_ != nullptr && easy_ != nullptr) curl_library().multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_library().easy_cleanup(easy_);
    if (multi_ != nullptr) curl_library().multi_cleanup(multi_);
    if (request_headers_ != nullptr) curl_library().slist_free_all(request_headers_);
    easy_ = nullptr;
    multi_ = nullptr;
    request_headers_ = nullptr;
  }

  HttpTimeouts timeouts_;
  std::optional<Clock::time_point> deadline_;
  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  std::mutex multi_mutex_;  // keeps a cancel's wakeup away from the cleanup
  curl_slist* request_headers_ = nullptr;
  char error_buffer_[CURL_ERROR_SIZE];
  std::atomic<bool> cancelled_{false};

  bool finished_ = false;
  CURLcode result_ = CURLE_OK;
  bool headers_done_ = false;
  bool redirected_ = false;
  bool downgrade_refused_ = false;
  uint32_t status_ = 0;
  std::optional<uint64_t> content_length_;
  Clock::time_point last_activity_;

  long header_status_ = 0;
  std::optional<uint64_t> header_length_;
  bool header_chunked_ = false;
  bool header_location_ = false;

  // Body bytes curl has handed over but no read has taken yet. The transfer is only driven
  // while this is empty, and one perform call reads at most 100 receive buffers, so it stays
  // within a few megabytes. (Pausing the transfer instead makes curl copy the held bytes over
  // and over, which costs far more than it saves.)
  std::string pending_;
  size_t pending_offset_ = 0;
};

class CurlHttp final : public Http {
 public:
  void set_timeouts(const HttpTimeouts& timeouts) override {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
  }

  std::vector<uint8_t> get_buffer(const std::string& uri, uint64_t max_bytes,
                                  std::optional<std::chrono::milliseconds> time_limit) override {
    std::optional<Clock::time_point> deadline;
    if (time_limit) deadline = Clock::now() + *time_limit;
    CurlResponse response(uri, timeouts(), deadline);
    response.wait_for_headers();
    return read_whole_body(response, max_bytes);
  }

  std::unique_ptr<HttpResponse> get_headers(const std::string& uri) override {
    auto response = std::make_unique<CurlResponse>(uri, timeouts());
    response->wait_for_headers();
    return response;
  }

 private:
  HttpTimeouts timeouts() {
    std::lock_guard lock(mutex_);
    return timeouts_;
  }

  std::mutex mutex_;
  HttpTimeouts timeouts_;
};

}  // namespace

Http* http() {
  static CurlHttp instance;
  return &instance;
}

}  // namespace pellora::platform::posix
