#include "standin/range_download.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/error.h"
#include "standin/curl_library.h"
#include "standin/http_timeouts.h"

namespace standin {

namespace hresult = pellora::platform::hresult;
using pellora::platform::PlatformError;
namespace {

using hresult::insufficient_range_support;
constexpr const char* range_support_text =
    "The server does not support the necessary HTTP protocol: the package is downloaded in "
    "range requests, and the server answered one with the whole file.";

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_library().easy_cleanup(easy); }
};
using EasyPointer = std::unique_ptr<CURL, EasyDeleter>;

void common_options(CURL* easy, const std::string& url) {
  curl_library().easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_library().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_library().easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_library().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_library().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, http_timeouts().connect_ms);
  curl_library().easy_setopt(easy, CURLOPT_USERAGENT, "trevalon-platform-deployment/1.0");
}

// A connection reused from the previous range has no connect time of its own; the request
// having gone out says as much.
bool connection_stands(CURL* easy) {
  curl_off_t connected = 0;
  curl_off_t request_sent = 0;
  curl_library().easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
  curl_library().easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &request_sent);
  return connected != 0 || request_sent != 0;
}

// Bytes of headers and body received so far: any growth is a sign of life.
curl_off_t bytes_received(CURL* easy) {
  curl_off_t body = 0;
  long headers = 0;
  curl_library().easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &body);
  curl_library().easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headers);
  return body + headers;
}

TransferOutcome outcome_for_curl(int code, const char* error_buffer) {
  const auto curl_code = static_cast<CURLcode>(code);
  const std::string detail =
      error_buffer[0] ? error_buffer : curl_library().easy_strerror(curl_code);
  switch (curl_code) {
    case CURLE_COULDNT_CONNECT:
      return {hresult::cannot_connect, "A connection with the server could not be established"};
    case CURLE_COULDNT_RESOLVE_HOST:
      return {hresult::name_not_resolved, "The server name or address could not be resolved"};
    case CURLE_OPERATION_TIMEDOUT:
      return {hresult::timeout, "The operation timed out"};
    default:
      return {hresult::connection_reset,
              "The connection with the server was reset (" + detail + ")"};
  }
}

TransferOutcome outcome_for_status(long status) {
  return {hresult::http_status_base + static_cast<uint32_t>(status),
          "The server answered with HTTP status " + std::to_string(status) + "."};
}

struct GetState {
  std::string* body;
  uint64_t max_bytes;
  bool too_large = false;
};

size_t write_to_string(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<GetState*>(user);
  const size_t length = size * count;
  if (state->body->size() + length > state->max_bytes) {
    state->too_large = true;
    return 0;
  }
  state->body->append(data, length);
  return length;
}

struct ChunkState {
  CURL* easy = nullptr;
  FILE* file = nullptr;
  uint64_t written = 0;
  uint64_t expected = 0;
  uint64_t total = 0;
  bool total_known = false;
  uint64_t first_byte = 0;
  bool whole_body = false;  // the server ignored the range
  bool bad_status = false;
  bool write_failed = false;
  bool overlong = false;
  uint64_t base = 0;
  const std::function<void(uint64_t, uint64_t)>* progress = nullptr;
};

size_t chunk_header(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<ChunkState*>(user);
  const size_t length = size * count;
  std::string line(data, length);
  static constexpr char name[] = "content-range:";
  if (line.size() > sizeof(name) - 1) {
    std::string head = line.substr(0, sizeof(name) - 1);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (head == name) {
      const size_t unit = line.find("bytes ");
      if (unit != std::string::npos) {
        state->first_byte = std::strtoull(line.c_str() + unit + 6, nullptr, 10);
      }
      const size_t slash = line.find('/');
      if (slash != std::string::npos && slash + 1 < line.size() && line[slash + 1] != '*') {
        state->total = std::strtoull(line.c_str() + slash + 1, nullptr, 10);
        state->total_known = true;
      }
    }
  }
  return length;
}

size_t chunk_write(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<ChunkState*>(user);
  const size_t length = size * count;
  long status = 0;
  curl_library().easy_getinfo(state->easy, CURLINFO_RESPONSE_CODE, &status);
  if (status == 200) {
    // The whole body instead of the range: stop before it all arrives.
    state->whole_body = true;
    return 0;
  }
  if (status != 206) {
    state->bad_status = true;
    return 0;
  }
  if (state->written + length > state->expected) {
    // More than the range asked for (a chunked answer that never ends, say): stop here rather
    // than write it all.
    state->overlong = true;
    return 0;
  }
  if (std::fwrite(data, 1, length, state->file) != length) {
    state->write_failed = true;
    return 0;
  }
  state->written += length;
  if (*state->progress && state->total_known) {
    (*state->progress)(state->base + state->written, state->total);
  }
  return length;
}

}  // namespace

RangeDownloader::RangeDownloader() {
  // Without libcurl every transfer fails (perform has no multi handle); the operation reports it.
  try {
    multi_ = curl_library().multi_init();
  } catch (const PlatformError&) {
    multi_ = nullptr;
  }
}

RangeDownloader::~RangeDownloader() {
  std::lock_guard lock(multi_mutex_);
  if (multi_ != nullptr) curl_library().multi_cleanup(static_cast<CURLM*>(multi_));
  multi_ = nullptr;
}

void RangeDownloader::cancel() {
  cancelled_ = true;
  std::lock_guard lock(multi_mutex_);
  if (multi_ != nullptr) curl_library().multi_wakeup(static_cast<CURLM*>(multi_));
}

int RangeDownloader::perform(void* easy_handle) {
  auto* multi = static_cast<CURLM*>(multi_);
  auto* easy = static_cast<CURL*>(easy_handle);
  if (multi == nullptr) return CURLE_FAILED_INIT;
  curl_library().multi_add_handle(multi, easy);
  CURLcode result = CURLE_OK;
  bool done = false;
  // A server that goes silent (after the connection stands; before, the connect time-out is in
  // charge) fails the transfer once nothing has come for the stall time-out. curl's own
  // low-speed limit only counts whole seconds, too coarse for the shortened test time-outs.
  const auto stall_limit = std::chrono::milliseconds(http_timeouts().stall_ms);
  auto last_activity = std::chrono::steady_clock::now();
  curl_off_t last_received = 0;
  while (!done) {
    if (cancelled_) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    int running = 0;
    if (curl_library().multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_library().multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        result = message->data.result;
        done = true;
      }
    }
    if (done) break;
    const auto now = std::chrono::steady_clock::now();
    const curl_off_t received = bytes_received(easy);
    if (!connection_stands(easy) || received != last_received) {
      last_received = received;
      last_activity = now;
    } else if (now - last_activity > stall_limit) {
      result = CURLE_OPERATION_TIMEDOUT;
      break;
    }
    curl_library().multi_poll(multi, nullptr, 0, 100, nullptr);
  }
  curl_library().multi_remove_handle(multi, easy);
  return result;
}

TransferOutcome RangeDownloader::get(const std::string& url, std::string& body,
                                     uint64_t max_bytes) {
  if (cancelled_) return {hresult::cancelled, "The operation was canceled by the user."};
  EasyPointer easy(curl_library().easy_init());
  char error_buffer[CURL_ERROR_SIZE] = {};
  GetState state{&body, max_bytes};
  common_options(easy.get(), url);
  curl_library().easy_setopt(easy.get(), CURLOPT_ERRORBUFFER, error_buffer);
  curl_library().easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, write_to_string);
  curl_library().easy_setopt(easy.get(), CURLOPT_WRITEDATA, &state);
  const int code = perform(easy.get());
  if (cancelled_) return {hresult::cancelled, "The operation was canceled by the user."};
  if (state.too_large) return {hresult::invalid_arg, "The document is too large."};
  long status = 0;
  curl_library().easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  if (code != CURLE_OK) return outcome_for_curl(code, error_buffer);
  if (status != 0 && (status < 200 || status > 299)) return outcome_for_status(status);
  return {};
}

TransferOutcome RangeDownloader::download(const std::string& url, const std::string& path,
                                          const std::function<void(uint64_t, uint64_t)>& progress) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return {hresult::fail, "The download file could not be created."};
  std::unique_ptr<FILE, int (*)(FILE*)> closer(file, std::fclose);
  uint64_t offset = 0;
  uint64_t total = 0;
  bool total_known = false;
  while (!total_known || offset < total) {
    if (cancelled_) return {hresult::cancelled, "The operation was canceled by the user."};
    uint64_t last = offset + chunk_size - 1;
    if (total_known && last >= total) last = total - 1;
    const std::string range = std::to_string(offset) + "-" + std::to_string(last);
    EasyPointer easy(curl_library().easy_init());
    char error_buffer[CURL_ERROR_SIZE] = {};
    ChunkState state;
    state.easy = easy.get();
    state.file = file;
    state.expected = last - offset + 1;
    state.base = offset;
    state.progress = &progress;
    common_options(easy.get(), url);
    curl_library().easy_setopt(easy.get(), CURLOPT_ERRORBUFFER, error_buffer);
    curl_library().easy_setopt(easy.get(), CURLOPT_RANGE, range.c_str());
    curl_library().easy_setopt(easy.get(), CURLOPT_HEADERFUNCTION, chunk_header);
    curl_library().easy_setopt(easy.get(), CURLOPT_HEADERDATA, &state);
    curl_library().easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, chunk_write);
    curl_library().easy_setopt(easy.get(), CURLOPT_WRITEDATA, &state);
    const int code = perform(easy.get());
    if (cancelled_) return {hresult::cancelled, "The operation was canceled by the user."};
    long status = 0;
    curl_library().easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (state.whole_body || status == 200) {
      return {insufficient_range_support, range_support_text};
    }
    if (state.write_failed) return {hresult::fail, "The download file could not be written."};
    if (state.overlong) {
      return {hresult::connection_reset, "The server sent a range other than the one asked for."};
    }
    if (state.bad_status || (code == CURLE_OK && status != 206)) return outcome_for_status(status);
    if (code != CURLE_OK) return outcome_for_curl(code, error_buffer);
    if (!state.total_known) return {insufficient_range_support, range_support_text};
    if (state.first_byte != offset || state.written == 0 || state.written > state.expected) {
      return {hresult::connection_reset, "The server sent a range other than the one asked for."};
    }
    total = state.total;
    total_known = true;
    offset += state.written;
    if (progress) progress(offset, total);
  }
  if (std::fflush(file) != 0) return {hresult::fail, "The download file could not be written."};
  return {};
}

}  // namespace standin
