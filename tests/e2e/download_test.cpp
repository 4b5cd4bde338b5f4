// Downloads through the real HTTP backend against site-server, with the window faked: what each
// kind of answer becomes. The hostile-site matrix checks every download path of the installer;
// here the codes and the bar.
#include "installer/download/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/e2e_site.h"
#include "tests/support/fake_platform.h"

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
    site.write("other.bin", "second");
    site.write("empty.bin", "");
    create_progress_window();
  }
  ~DownloadE2E() override { unsetenv("TREVALON_HTTP_STALL_TIMEOUT_MS"); }

  std::string download(const std::string& path) {
    return download_uri_to_folder(
        Uri(server.url(path)), [this] { return target.path(); }, "app.bin",
        "Downloading, please wait");
  }
  size_t entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(target.path()), {}));
  }

  testing::ScopedFakePlatform fake;
  testing::ScratchFolder site;
  testing::ScratchFolder target;
  std::string body = std::string(300000, '\0');
  testing::SiteServer server{TREVALON_BIN_DIR "/site-server", site.path()};
};

TEST_F(DownloadE2E, WholeBodiesArriveWithTheBarOrTheMarquee) {
  EXPECT_EQ(testing::read_file(download("/app.bin")), body);
  const auto positions = fake.window.bar_positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 100u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_TRUE(fake.window.last_view().cancel_enabled);
  EXPECT_FALSE(has_current_operation());

  // Redirects are followed, and a body without a length runs the marquee without positions.
  server.set_faults({"/old.bin=redirect:/app.bin", "/app.bin=chunked"});
  EXPECT_EQ(testing::read_file(download("/old.bin")), body);
  EXPECT_EQ(fake.window.bar_positions(), positions);
  EXPECT_TRUE(fake.window.last_view().marquee);
  // A second download of the same name replaces the first, also with an empty body.
  EXPECT_EQ(testing::read_file(download("/other.bin")), "second");
  EXPECT_EQ(testing::read_file(download("/empty.bin")), "");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(DownloadE2E, FailuresCarryTheirCodesAndReplaceNothing) {
  setenv("TREVALON_HTTP_STALL_TIMEOUT_MS", "300", 1);
  // The port of a site that was served a moment ago refuses connections.
  const std::string refused =
      testing::SiteServer(TREVALON_BIN_DIR "/site-server", site.path()).url("/app.bin");
  const struct {
    std::string fault_or_url;
    uint32_t code;
  } cases[] = {
      {"404", 0x80190194},  // "Not found (404)."
      {"500", 0x801901F4},
      {"truncate", 0x80072EFE},          // closed early: terminated abnormally
      {"chunked-truncate", 0x80072EFE},  // closed before the last chunk
      {"reset", 0x80072EFF},
      {"stall", platform::hresult::timeout},
      {refused, platform::hresult::cannot_connect},
      {"http://no-such-host.invalid/app.bin", platform::hresult::name_not_resolved},
  };
  for (const auto& [fault_or_url, code] : cases) {
    SCOPED_TRACE(fault_or_url);
    target.write("app.bin", "earlier download");
    const bool url = fault_or_url.starts_with("http:");
    server.set_faults(url ? std::vector<std::string>{} : std::vector{"/app.bin=" + fault_or_url});
    try {
      if (url) {
        download_uri_to_folder(
            Uri(fault_or_url), [this] { return target.path(); }, "app.bin", "Downloading");
      } else {
        download("/app.bin");
      }
      ADD_FAILURE() << "the download succeeded";
    } catch (const platform::PlatformError& error) {
      EXPECT_EQ(error.code(), code) << error.message();
    }
    // The earlier download stays whole, alone in its folder.
    EXPECT_EQ(target.read("app.bin"), "earlier download");
    EXPECT_EQ(entries(), 1u);
    EXPECT_FALSE(has_current_operation());
  }
}

TEST_F(DownloadE2E, CancelDuringAStallEndsPromptly) {
  server.set_faults({"/app.bin=stall"});
  auto result = std::async(std::launch::async, [&] { return download("/app.bin"); });
  ASSERT_TRUE(testing::wait_until(has_current_operation, std::chrono::seconds(10)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well into the silence
  const auto pressed = Clock::now();
  on_window_event(platform::WindowEvent::cancel);
  try {
    result.get();
    FAIL() << "not cancelled";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
  // The target is 100 ms; the bound leaves room for a loaded machine but not for the once a
  // second polling this design exists to avoid.
  EXPECT_LT(took.count(), 500) << "cancel took " << took.count() << " ms";
  EXPECT_EQ(entries(), 0u);
  EXPECT_FALSE(has_current_operation());
}

TEST_F(DownloadE2E, BufferReadsAreCappedNotHeldWhole) {
  auto* http = platform::backend_services().http;
  EXPECT_EQ(http->get_buffer(server.url("/app.bin"), 1 << 20),
            std::vector<uint8_t>(body.begin(), body.end()));
  server.set_faults({"/endless=endless"});
  EXPECT_THROW(http->get_buffer(server.url("/endless"), 1 << 20), platform::PlatformError);
  EXPECT_THROW(http->get_buffer(server.url("/app.bin"), 1000), platform::PlatformError);
}

}  // namespace
}  // namespace pellora
