// download_bench URL FOLDER NAME: downloads URL with download_uri_to_folder through the real
// HTTP backend and prints "seconds=S bytes=N peak_rss_kib=K".
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "common/error.h"
#include "installer/core/progress_window.h"
#include "installer/download/download.h"
#include "installer/platform/backend.h"

namespace {

class QuietDebugOutput final : public pellora::platform::DebugOutput {
 public:
  void write(std::string_view) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_bench URL FOLDER NAME\n");
    return 2;
  }
  using namespace pellora;
  QuietDebugOutput debug;
  platform::Services& services = platform::services();
  services.debug = &debug;
  services.system = platform::backend_services().system;
  services.http = platform::backend_services().http;
  services.files = pellora::platform::backend_services().files;
  create_progress_window();

  const auto start = std::chrono::steady_clock::now();
  std::string path;
  try {
    path = download_uri_to_folder(
        Uri(argv[1]), [&] { return std::string(argv[2]); }, argv[3], "Downloading");
  } catch (const platform::PlatformError& error) {
    std::fprintf(stderr, "download failed: %s (0x%08x)\n", error.what(), error.code());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds=%.3f bytes=%llu peak_rss_kib=%ld\n", seconds,
              static_cast<unsigned long long>(std::filesystem::file_size(path)), usage.ru_maxrss);
  return 0;
}
