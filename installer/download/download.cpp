#include "installer/download/download.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/temp_directory.h"
#include "installer/download/stream_copy.h"
#include "installer/platform/error.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

using platform::hresult::connection_aborted;
using platform::hresult::disk_full;
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

platform::PlatformError write_error(const std::string& path, int error) {
  return platform::PlatformError(error == ENOSPC ? disk_full : platform::hresult::fail,
                                 "Could not write " + path + ": " + std::strerror(error));
}

// Chunks go to "<target>.partial" beside the target, which is swapped in by commit(), so memory
// stays flat whatever the size and the target is either empty or complete. An uncommitted
// partial file is removed.
class PartialFileOutput final : public OutputStream {
 public:
  explicit PartialFileOutput(std::string target)
      : target_(std::move(target)), partial_(target_ + ".partial") {
    file_ = std::fopen(partial_.c_str(), "wb");
    if (file_ == nullptr) throw write_error(partial_, errno);
    // Large writes; the default buffer would cost a system call per 4 KiB.
    std::setvbuf(file_, buffer_.get(), _IOFBF, buffer_bytes);
  }

  ~PartialFileOutput() override {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) {
      std::error_code ignored;
      std::filesystem::remove(partial_, ignored);
    }
  }

  PartialFileOutput(const PartialFileOutput&) = delete;
  PartialFileOutput& operator=(const PartialFileOutput&) = delete;

  void write(const uint8_t* data, size_t size) override {
    if (std::fwrite(data, 1, size, file_) != size) throw write_error(partial_, errno);
  }

  void commit() override {
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) throw write_error(partial_, errno);
    std::error_code error;
    std::filesystem::rename(partial_, target_, error);
    if (error) {
      throw platform::PlatformError(platform::hresult::fail, "Could not move " + partial_ + " to " +
                                                                 target_ + ": " + error.message());
    }
    committed_ = true;
  }

 private:
  std::string target_;
  std::string partial_;
  static constexpr size_t buffer_bytes = 256 * 1024;
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(buffer_bytes);
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

}  // namespace

std::string download_uri_to_folder(const Uri& uri, const std::function<std::string()>& folder,
                                   const std::string& file_name, const std::string& status_text,
                                   uint64_t max_bytes) {
  log_line("Downloading " + uri.to_string() + "...");
  platform::Services& services = platform::services();
  const std::string path = services.files->create_file_replace_existing(folder(), file_name);
  log_line("Temporary path: " + path);
  set_status(status_text);

  std::shared_ptr<platform::HttpResponse> response = services.http->get_headers(uri.to_string());
  response->ensure_success_status_code();
  const uint64_t total = response->content_length().value_or(0);
  HttpBodyStream input(*response, max_bytes);
  PartialFileOutput output(path);

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
  return download_uri_to_folder(uri, temp_directory, file_name, status_text,
                                max_downloaded_program_bytes);
}

}  // namespace pellora
