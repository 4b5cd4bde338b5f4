// Downloads through the real HTTP backend against site-server, with the window faked.
#include "installer/download/download.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/platform_sandbox.h"
#include "tests/support/site_server.h"

namespace pellora {
namespace {

using Clock = std::chrono::steady_clock;

using testing::read_file;

std::string pattern(size_t size, char seed) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(seed + i * 7 % 251);
  return body;
}

class RecordingSurface final : public platform::WindowSurface {
 public:
  void render(const platform::WindowView& view) override {
    std::lock_guard lock(mutex_);
    views_.push_back(view);
  }
  void set_cursor(platform::Cursor) override {}
  void message_box(const std::string&, const std::string&) override {}
  int dpi() override { return 96; }
  void start(platform::WindowCallbacks) override {}
  // Each distinct position the determinate bar showed, in order.
  std::vector<uint32_t> positions() const {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> result;
    for (const auto& view : views_) {
      if (!view.marquee && (result.empty() || result.back() != view.position)) {
        result.push_back(view.position);
      }
    }
    return result;
  }
  platform::WindowView last() const {
    std::lock_guard lock(mutex_);
    return views_.empty() ? platform::WindowView{} : views_.back();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<platform::WindowView> views_;
};

class DownloadE2E : public ::testing::Test {
 protected:
  DownloadE2E() {
    fake.services().http = platform::backend_services().http;
    fake.services().files = platform::backend_services().files;
    fake.services().window = &surface;
    create_progress_window();
    std::ofstream(site.path() + "/app.bin", std::ios::binary) << body;
  }
  ~DownloadE2E() override { unsetenv("TREVALON_HTTP_STALL_TIMEOUT_MS"); }

  std::string download(const std::string& url, const std::string& name = "app.bin") {
    return download_uri_to_folder(
        Uri(url), [this] { return target.path(); }, name, "Downloading, please wait");
  }
  platform::PlatformError download_error(const std::string& url) {
    try {
      download(url);
    } catch (const platform::PlatformError& error) {
      return error;
    }
    ADD_FAILURE() << "download of " << url << " succeeded";
    return platform::PlatformError(0, "");
  }
  std::string local(const std::string& name = "app.bin") const {
    return target.path() + "/" + name;
  }
  // Nothing was written: no local file, and no pending file left beside where it would be.
  void expect_nothing_written() const {
    EXPECT_TRUE(std::filesystem::is_empty(target.path()));
    EXPECT_FALSE(has_current_operation());
  }
  void wait_for_current_operation() const {
    const auto give_up = Clock::now() + std::chrono::seconds(10);
    while (!has_current_operation() && Clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(has_current_operation());
  }

  testing::ScopedFakePlatform fake;
  RecordingSurface surface;
  testing::ScratchFolder site;
  testing::ScratchFolder target;
  const std::string body = pattern(300000, 'a');
  testing::SiteServer server{TREVALON_BIN_DIR "/site-server", site.path()};
};

TEST_F(DownloadE2E, WholeFileWithProgressToOneHundred) {
  const std::string path = download(server.url("/app.bin"));
  EXPECT_EQ(path, local());
  EXPECT_EQ(read_file(path), body);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target.path()), {}), 1);
  const auto positions = surface.positions();
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), 100u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_FALSE(has_current_operation());
  EXPECT_TRUE(surface.last().cancel_enabled);
}

TEST_F(DownloadE2E, NotFoundFailsAfterTheEmptyFileExists) {
  const auto error = download_error(server.url("/missing.bin"));
  EXPECT_EQ(error.code(), 0x80190194u);
  EXPECT_EQ(error.message(), "Not found (404).");
  expect_nothing_written();
  EXPECT_TRUE(fake.debug.contains("Temporary path: " + local()));

  server.set_faults({"/app.bin=500"});
  EXPECT_EQ(download_error(server.url("/app.bin")).code(), 0x801901F4u);
}

TEST_F(DownloadE2E, BodiesCutShortFail) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"truncate", 0x80072EFE},          // closed early: terminated abnormally
      {"chunked-truncate", 0x80072EFE},  // closed before the last chunk
      {"reset", 0x80072EFF},             // connection reset
  };
  for (const auto& [kind, code] : cases) {
    SCOPED_TRACE(kind);
    std::ofstream(local(), std::ios::binary) << "earlier download";
    server.set_faults({std::string("/app.bin=") + kind});
    EXPECT_EQ(download_error(server.url("/app.bin")).code(), code);
    // A cut body replaces nothing: the earlier download stays whole, alone in its folder.
    EXPECT_EQ(read_file(local()), "earlier download");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target.path()), {}), 1);
  }
}

TEST_F(DownloadE2E, ChunkedBodyRunsTheMarqueeWithoutPositions) {
  server.set_faults({"/app.bin=chunked"});
  EXPECT_EQ(read_file(download(server.url("/app.bin"))), body);
  EXPECT_TRUE(surface.positions().empty());
  EXPECT_TRUE(surface.last().marquee);
}

TEST_F(DownloadE2E, CancelDuringAStallEndsPromptly) {
  server.set_faults({"/app.bin=stall"});
  auto result = std::async(std::launch::async, [&] { return download(server.url("/app.bin")); });
  wait_for_current_operation();
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
  RecordProperty("cancel_ms", static_cast<int>(took.count()));
  EXPECT_LT(took.count(), 500) << "cancel took " << took.count() << " ms";
  expect_nothing_written();
}

TEST_F(DownloadE2E, CancelMidTransferLeavesTheFileEmpty) {
  server.set_faults({"/app.bin=drip:4096:20"});
  auto result = std::async(std::launch::async, [&] { return download(server.url("/app.bin")); });
  wait_for_current_operation();
  const auto give_up = Clock::now() + std::chrono::seconds(10);
  while (surface.positions().size() < 3 && Clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  on_window_event(platform::WindowEvent::cancel);
  EXPECT_THROW(result.get(), platform::PlatformError);
  expect_nothing_written();
  EXPECT_TRUE(cancel_requested);
}

TEST_F(DownloadE2E, SecondDownloadOfTheSameNameReplacesTheFirst) {
  std::ofstream(site.path() + "/other.bin", std::ios::binary) << "second";
  download(server.url("/app.bin"));
  EXPECT_EQ(read_file(download(server.url("/other.bin"))), "second");
}

TEST_F(DownloadE2E, RedirectsAreFollowed) {
  server.set_faults({"/old.bin=redirect:/app.bin"});
  EXPECT_EQ(read_file(download(server.url("/old.bin"))), body);
}

TEST_F(DownloadE2E, StallTimeOutIsReported) {
  setenv("TREVALON_HTTP_STALL_TIMEOUT_MS", "300", 1);
  server.set_faults({"/app.bin=stall"});
  EXPECT_EQ(download_error(server.url("/app.bin")).code(), platform::hresult::timeout);
  expect_nothing_written();
}

TEST_F(DownloadE2E, ConnectionFailuresMapToTheirErrors) {
  // A port that was free a moment ago refuses connections.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  close(probe);
  const std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  EXPECT_EQ(download_error(refused).code(), platform::hresult::cannot_connect);
  EXPECT_EQ(download_error("http://no-such-host.invalid/app.bin").code(),
            platform::hresult::name_not_resolved);
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
