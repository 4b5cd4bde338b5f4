// HTTP on WinHTTP, asynchronous. Each blocking call of the interface starts one WinHTTP
// operation and waits for its completion callback, or for a cancel. A cancel closes the request
// handle; the wait does not depend on WinHTTP noticing (a pending read may only end when data
// arrives), so everything a pending operation may still write to is owned by the request's
// state, which lives until WinHTTP reports the handle closed.
//
// WinHTTP rather than the Runtime's HttpClient: it is on every Windows the installer supports,
// behaves the same for plain GET requests, and runs under Wine, where the tests exercise it.

#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "installer/platform/http_status.h"
#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

// WinHTTP's errors carry their texts in winhttp.dll's message table.
PlatformError winhttp_error(DWORD code) {
  std::string text;
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length != 0) text = to_utf8(std::wstring_view(buffer, length));
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "WinHTTP error " + std::to_string(code);
  return PlatformError(hresult_from_win32(code), text);
}

// A WinHTTP handle closed with WinHttpCloseHandle.
class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() { reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(HINTERNET handle = nullptr) {
    if (handle_ != nullptr) WinHttpCloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HINTERNET handle_ = nullptr;
};

constexpr size_t read_chunk_bytes = 64 * 1024;

// What one request's callbacks and its waiting caller share.
struct RequestState {
  std::mutex mutex;
  std::condition_variable signal;
  bool operation_done = false;
  DWORD operation_error = 0;
  DWORD bytes_read = 0;
  bool cancelled = false;
  std::vector<uint8_t> read_buffer = std::vector<uint8_t>(read_chunk_bytes);
  // The state's own reference while WinHTTP may still call back; dropped when the request
  // handle is reported closed.
  std::shared_ptr<RequestState> keep_alive;

  void complete(DWORD error, DWORD bytes = 0) {
    {
      std::lock_guard lock(mutex);
      operation_done = true;
      operation_error = error;
      bytes_read = bytes;
    }
    signal.notify_all();
  }
};

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information,
                        DWORD information_length) {
  auto* state = reinterpret_cast<RequestState*>(context);
  if (state == nullptr) return;  // the connection's handle: nothing waits on it
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      state->complete(0);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      state->complete(0, information_length);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      state->complete(static_cast<const WINHTTP_ASYNC_RESULT*>(information)->dwError);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: {
      std::shared_ptr<RequestState> last;
      {
        std::lock_guard lock(state->mutex);
        last = std::move(state->keep_alive);
      }
      break;  // `last` may free the state here; nothing touches it afterwards
    }
    default:
      break;
  }
}

class Session {
 public:
  Session()
      : handle_(WinHttpOpen(L"pellora", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC)) {
    if (handle_) {
      WinHttpSetStatusCallback(
          handle_.get(), on_status,
          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0);
    }
  }
  HINTERNET get() const { return handle_.get(); }
  DWORD error() const { return error_; }

 private:
  InternetHandle handle_;
  DWORD error_ = handle_ ? 0 : GetLastError();
};

Session& session() {
  static Session instance;
  return instance;
}

class WinHttpResponse final : public HttpResponse {
 public:
  WinHttpResponse(const std::string& uri, const HttpTimeouts& timeouts,
                  std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt)
      : timeouts_(timeouts), deadline_(deadline), state_(std::make_shared<RequestState>()) {
    if (session().get() == nullptr) throw winhttp_error(session().error());
    const std::wstring wide_uri = to_utf16(uri);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide_uri.c_str(), 0, 0, &parts)) throw winhttp_error(GetLastError());
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
      throw winhttp_error(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    connection_.reset(WinHttpConnect(session().get(), host.c_str(), parts.nPort, 0));
    if (!connection_) throw winhttp_error(GetLastError());
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    request_ = WinHttpOpenRequest(connection_.get(), L"GET", path.c_str(), nullptr,
                                  WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (request_ == nullptr) throw winhttp_error(GetLastError());
    // From here on WinHTTP calls back with the state, until it reports the handle closed.
    state_->keep_alive = state_;
    try {
      send();
    } catch (...) {
      close_request();  // the destructor does not run for a constructor that throws
      throw;
    }
  }

  ~WinHttpResponse() override { close_request(); }

  WinHttpResponse(const WinHttpResponse&) = delete;
  WinHttpResponse& operator=(const WinHttpResponse&) = delete;

  uint32_t status() const override { return status_; }

  void ensure_success_status_code() const override {
    if (status_ < 200 || status_ > 299) throw http_status_error(status_);
  }

  std::optional<uint64_t> content_length() const override { return content_length_; }

  size_t read(uint8_t* buffer, size_t capacity) override {
    if (capacity == 0) return 0;
    const DWORD wanted =
        static_cast<DWORD>(capacity < read_chunk_bytes ? capacity : read_chunk_bytes);
    run([&] { return WinHttpReadData(request_, state_->read_buffer.data(), wanted, nullptr); });
    const DWORD count = state_->bytes_read;
    if (count == 0) {
      // WinHTTP ends a body whose connection closed early as if it were complete.
      if (content_length_ && received_ < *content_length_) {
        throw winhttp_error(ERROR_WINHTTP_CONNECTION_ERROR);
      }
      return 0;
    }
    std::memcpy(buffer, state_->read_buffer.data(), count);
    received_ += count;
    return count;
  }

  void cancel() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->cancelled = true;
    }
    state_->signal.notify_all();
    close_request();
  }

 private:
  // Starts one asynchronous call and waits for its completion. Raises the cancellation error
  // after cancel(), the call's WinHTTP error when it fails, and the time-out error when nothing
  // happened for the stall time (the request is closed then).
  template <class Start>
  void run(Start start) {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->cancelled) throw cancelled_error();
      state_->operation_done = false;
      state_->operation_error = 0;
      state_->bytes_read = 0;
    }
    {
      std::lock_guard lock(request_mutex_);
      if (request_ == nullptr) throw cancelled_error();
      if (!start()) throw winhttp_error(GetLastError());
    }
    std::unique_lock lock(state_->mutex);
    auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeouts_.stall_ms);
    if (deadline_ && *deadline_ < give_up) give_up = *deadline_;
    const bool ended = state_->signal.wait_until(
        lock, give_up, [&] { return state_->operation_done || state_->cancelled; });
    if (state_->cancelled) throw cancelled_error();
    if (!ended) {
      lock.unlock();
      close_request();
      throw winhttp_error(ERROR_WINHTTP_TIMEOUT);
    }
    if (state_->operation_error != 0) throw winhttp_error(state_->operation_error);
  }

  // Sends the request and waits for the final response's headers (redirects followed).
  void send() {
    auto context = reinterpret_cast<DWORD_PTR>(state_.get());
    WinHttpSetOption(request_, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);

    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(request_, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    // The stall time-out is kept by run(), the same for every step and every WinHTTP.
    WinHttpSetTimeouts(request_, 0, static_cast<int>(timeouts_.connect_ms), 0, 0);
    const wchar_t headers[] = L"Cache-Control: no-cache";
    if (!WinHttpAddRequestHeaders(request_, headers, static_cast<DWORD>(-1L),
                                  WINHTTP_ADDREQ_FLAG_ADD)) {
      throw winhttp_error(GetLastError());
    }

    run([&] {
      return WinHttpSendRequest(request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                0, 0, context);
    });
    run([&] { return WinHttpReceiveResponse(request_, nullptr); });
    read_headers();
  }

  void read_headers() {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      throw winhttp_error(GetLastError());
    }
    status_ = status;
    // WinHTTP follows every redirect it may; one that is left was refused (https to http).
    if (status_ >= 300 && status_ <= 399 && status_ != 304 && header(WINHTTP_QUERY_LOCATION)) {
      throw winhttp_error(ERROR_WINHTTP_REDIRECT_FAILED);
    }
    const auto encoding = header(WINHTTP_QUERY_TRANSFER_ENCODING);
    if (encoding && encoding->find(L"chunked") != std::wstring::npos) return;
    if (const auto length = header(WINHTTP_QUERY_CONTENT_LENGTH)) {
      wchar_t* end = nullptr;
      const unsigned long long value = std::wcstoull(length->c_str(), &end, 10);
      if (end != length->c_str()) content_length_ = value;
    }
  }

  std::optional<std::wstring> header(DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request_, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request_, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return std::nullopt;
    }
    value.resize(size / sizeof(wchar_t));
    return value;
  }

  void close_request() {
    std::lock_guard lock(request_mutex_);
    if (request_ != nullptr) WinHttpCloseHandle(request_);
    request_ = nullptr;
  }

  const HttpTimeouts timeouts_;
  const std::optional<std::chrono::steady_clock::time_point> deadline_;
  std::shared_ptr<RequestState> state_;
  std::mutex request_mutex_;  // keeps a cancel's close away from a call starting on the handle
  InternetHandle connection_;
  HINTERNET request_ = nullptr;  // closed by close_request(); see the state's keep_alive
  uint32_t status_ = 0;
  std::optional<uint64_t> content_length_;
  uint64_t received_ = 0;
};

class WinHttp final : public Http {
 public:
  void set_timeouts(const HttpTimeouts& timeouts) override {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
  }

  std::vector<uint8_t> get_buffer(const std::string& uri, uint64_t max_bytes,
                                  std::optional<std::chrono::milliseconds> time_limit) override {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (time_limit) deadline = std::chrono::steady_clock::now() + *time_limit;
    WinHttpResponse response(uri, timeouts(), deadline);
    return read_whole_body(response, max_bytes);
  }

  std::unique_ptr<HttpResponse> get_headers(const std::string& uri) override {
    return std::make_unique<WinHttpResponse>(uri, timeouts());
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
  static WinHttp instance;
  return &instance;
}

}  // namespace pellora::platform::windows
