// Downloads through the real HTTP backend against site-server, with the window faked: the bar,
// a cut body, the cap and Cancel, and an earlier download kept whole whenever one fails. The HTTP
// contract checks what the other answers become, and the hostile-site matrix that no fault passes
// on any download path of the installer.
#include "installer/download/download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "common/error.h"
#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "tests/support/e2e_site.h"
#include "tests/support/fake_platform.h"
#include "tests/support/platform_error.h"

namespace pellora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class DownloadE2E : public ::testing::Test {
 protected:
  DownloadE2E() {
    fake.services().http = platform::backend_services().http;
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i * 7 % 251);
    site.write("app.bin", body);
    site.write("small.bin", "small");
    site.write("empty.bin", "");
    target.write("app.bin", "earlier download");
    create_progress_window();
  }

  // The download's error code, 0 when it succeeded.
  uint32_t download(const std::string& path, uint64_t max_bytes = UINT64_MAX) {
    return testing::error_code_of([&] {
      download_uri_to_folder(
          Uri(server.url(path)), [this] { return target.path(); }, "app.bin",
          "Downloading, please wait", max_bytes);
    });
  }
  // The earlier download stays whole, alone in its folder.
  void expect_earlier_download_kept() const {
    EXPECT_EQ(target.read("app.bin"), "earlier download");
    EXPECT_EQ(std::distance(fs::directory_iterator(target.path()), {}), 1);
    EXPECT_FALSE(has_current_operation());
  }

  testing::ScopedFakePlatform fake;
  testing::ScratchFolder site;
  testing::ScratchFolder target;
  std::string body = std::string(300000, '\0');
  testing::SiteServer server{TREVALON_BIN_DIR "/site-server", site.path()};
};

// How the bar moves is the download's unit test; here the real backend's length drives it.
TEST_F(DownloadE2E, WholeBodiesArriveWithTheBarOrTheMarquee) {
  EXPECT_EQ(download("/app.bin"), 0u);
  EXPECT_EQ(target.read("app.bin"), body);
  const auto positions = fake.window.bar_positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 100u);

  // Redirects are followed, and a body without a length runs the marquee without positions.
  server.set_faults({"/old.bin=redirect:/app.bin", "/app.bin=chunked"});
  EXPECT_EQ(download("/old.bin"), 0u);
  EXPECT_EQ(target.read("app.bin"), body);
  EXPECT_EQ(fake.window.bar_positions(), positions);
  EXPECT_TRUE(fake.window.last_view().marquee);
  EXPECT_EQ(download("/empty.bin"), 0u);  // an empty body replaces the file too
  EXPECT_EQ(target.read("app.bin"), "");
}

// A body cut short, with or without a length, or by a reset, and one longer than the cap (shown
// with a small cap: the real one, 4 GiB, would take the test too long to reach).
TEST_F(DownloadE2E, ACutOrOversizedBodyFailsAndReplacesNothing) {
  const std::pair<const char*, uint32_t> cuts[] = {
      {"truncate", platform::hresult::connection_aborted},
      {"chunked-truncate", platform::hresult::connection_aborted},
      {"reset", platform::hresult::connection_reset}};
  for (const auto& [fault, code] : cuts) {
    SCOPED_TRACE(fault);
    server.set_faults({std::string("/app.bin=") + fault});
    EXPECT_EQ(download("/app.bin"), code);
    expect_earlier_download_kept();
  }
  constexpr uint32_t too_large = platform::hresult::file_too_large;
  server.set_faults({"/endless=endless", "/app.bin=chunked"});
  EXPECT_EQ(download("/endless", 32 * 1024), too_large);  // no length: stopped while receiving
  EXPECT_EQ(download("/app.bin", 32 * 1024), too_large);  // in chunks, no length
  server.set_faults({});
  EXPECT_EQ(download("/app.bin", 32 * 1024), too_large);  // refused on its Content-Length
  expect_earlier_download_kept();
  EXPECT_EQ(download("/small.bin", 32 * 1024), 0u);
}

TEST_F(DownloadE2E, CancelDuringAStallEndsPromptly) {
  server.set_faults({"/app.bin=stall"});
  auto result = std::async(std::launch::async, [&] { return download("/app.bin"); });
  ASSERT_TRUE(testing::wait_until(has_current_operation, std::chrono::seconds(10)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well into the silence
  const auto pressed = Clock::now();
  on_window_event(platform::WindowEvent::cancel);
  EXPECT_EQ(result.get(), platform::hresult::cancelled);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
  // The target is 100 ms; the bound leaves room for a loaded machine but not for the once a
  // second polling this design exists to avoid.
  EXPECT_LT(took.count(), 500) << "cancel took " << took.count() << " ms";
  expect_earlier_download_kept();
}

}  // namespace
}  // namespace pellora
