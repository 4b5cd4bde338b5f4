#include "installer/download/download.h"

#include <memory>
#include <vector>

#include "common/error.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/site_signature.h"
#include "installer/core/temp_directory.h"
#include "installer/download/stream_copy.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

using platform::hresult::connection_aborted;
using platform::hresult::file_too_large;

platform::PlatformError too_large_error(uint64_t max_bytes) {
  return platform::PlatformError(
      file_too_large, "The response is larger than " + std::to_string(max_bytes) + " bytes");
}

// The response body, refusing to end short of the announced length (a clean end before it is
// a cut connection, and a cut installer must never be started) and to run past max_bytes (an
// endless body would otherwise fill the disk).
class HttpBodyStream final : public InputStream {
 public:
  HttpBodyStream(platform::HttpResponse& response, uint64_t max_bytes)
      : response_(response), expected_(response.content_length()), max_bytes_(max_bytes) {
    if (expected_ && *expected_ > max_bytes_) throw too_large_error(max_bytes_);
  }

  size_t read(uint8_t* buffer, size_t capacity) override {
    const size_t count = response_.read(buffer, capacity);
    delivered_ += count;
    if (delivered_ > max_bytes_) throw too_large_error(max_bytes_);
    if (count == 0 && expected_ && delivered_ != *expected_) {
      throw platform::PlatformError(
          connection_aborted, "The connection with the server was terminated abnormally after " +
                                  std::to_string(delivered_) + " of " + std::to_string(*expected_) +
                                  " bytes");
    }
    return count;
  }

 private:
  platform::HttpResponse& response_;
  std::optional<uint64_t> expected_;
  uint64_t max_bytes_;
  uint64_t delivered_ = 0;
};

// The body goes to a pending file beside the target, which replaces the target only once the
// whole of it has arrived: the target is never half a program, and two downloads of the same
// name at once never write into one file. An uncommitted pending file is removed. Written
// through a large buffer: a download arrives in small chunks, and a system call per chunk would
// cost more than the network.
class PendingFileOutput final : public OutputStream {
 public:
  PendingFileOutput(platform::PendingFile& file, const DownloadCheck& check)
      : file_(file), check_(check) {
    buffer_.reserve(buffer_bytes);
    if (check_) hash_ = platform::services().crypto->start_sha256();
  }
  void write(const uint8_t* data, size_t size) override {
    if (hash_) hash_->update(data, size);
    if (buffer_.size() + size > buffer_bytes) flush();
    if (size >= buffer_bytes) {
      file_.write(data, size);
    } else {
      buffer_.insert(buffer_.end(), data, data + size);
    }
  }
  void commit() override {
    flush();
    if (hash_) check_(hash_->finish());
    file_.commit();
  }

 private:
  static constexpr size_t buffer_bytes = 256 * 1024;

  void flush() {
    if (!buffer_.empty()) file_.write(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

  platform::PendingFile& file_;
  const DownloadCheck& check_;
  std::unique_ptr<platform::Sha256> hash_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::string download_uri_to_folder(const Uri& uri, const std::function<std::string()>& folder,
                                   const std::string& file_name, const std::string& status_text,
                                   uint64_t max_bytes, const DownloadCheck& check) {
  log_line("Downloading " + uri.to_string() + "...");
  platform::Services& services = platform::services();
  const std::unique_ptr<platform::PendingFile> file =
      services.files->create_pending_file(folder(), file_name);
  const std::string path = file->target_path();
  log_line("Temporary path: " + path);
  set_status(status_text);

  std::shared_ptr<platform::HttpResponse> response = services.http->get_headers(uri.to_string());
  response->ensure_success_status_code();
  const uint64_t total = response->content_length().value_or(0);
  HttpBodyStream input(*response, max_bytes);
  PendingFileOutput output(*file, check);

  std::function<void(uint64_t)> progress;
  if (total != 0) {
    progress_determinate();
    progress = [total](uint64_t copied) {
      set_progress(static_cast<uint32_t>(copied * 100 / total));
    };
  } else {
    progress_marquee();
  }

  const auto operation = std::make_shared<CopyOperation>(response);
  {
    CurrentOperationRegistration registration(operation);
    enable_cancel(true);
    copy_stream_with_progress(input, output, *operation, progress);
  }
  return path;
}

std::string download_uri_to_tmp(const Uri& uri, const std::string& file_name,
                                const std::string& status_text) {
  return download_uri_to_folder(
      uri, temp_directory, file_name, status_text, max_downloaded_program_bytes,
      [&uri](const platform::Sha256Digest& content) { check_site_signature(uri, content); });
}

}  // namespace pellora
