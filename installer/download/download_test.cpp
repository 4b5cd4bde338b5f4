#include "installer/download/download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "installer/core/progress_window.h"
#include "installer/platform/error.h"
#include "tests/support/disk_files.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Records every view the window renders, so a test can see each bar position.
class RecordingSurface final : public platform::WindowSurface {
 public:
  void render(const platform::WindowView& view) override { views.push_back(view); }
  void set_cursor(platform::Cursor) override {}
  void message_box(const std::string&, const std::string&) override {}
  int dpi() override { return 96; }
  void start_events(std::function<void(platform::WindowEvent)>) override {}
  std::vector<uint32_t> positions() const {
    std::vector<uint32_t> result;
    for (const auto& view : views) {
      if (!view.marquee && (result.empty() || result.back() != view.position)) {
        result.push_back(view.position);
      }
    }
    return result;
  }
  std::vector<platform::WindowView> views;
};

class DownloadToFolder : public ::testing::Test {
 protected:
  DownloadToFolder() {
    fake.services().http = &http;
    fake.services().files = &files;
    fake.services().window = &surface;
    create_progress_window();
  }
  std::string download(const std::string& name = "installer.exe") {
    return download_uri_to_folder(
        Uri(url), [this] { return folder.path(); }, name, "Downloading, please wait");
  }
  bool partial_left() const {
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
      if (entry.path().extension() == ".partial") return true;
    }
    return false;
  }

  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
  testing::DiskFiles files;
  RecordingSurface surface;
  testing::ScratchFolder folder;
  const std::string url = "http://site.example/installer.exe";
};

TEST_F(DownloadToFolder, WritesTheBodyLogsAndDrivesTheBar) {
  http.serve(url, std::string(20000, 'a'));
  http.chunk_size = 8192;
  const std::string path = download();
  EXPECT_EQ(path, folder.path() + "/installer.exe");
  EXPECT_EQ(read_file(path), std::string(20000, 'a'));
  EXPECT_FALSE(partial_left());

  const auto lines = fake.debug.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Downloading " + url + "...");
  EXPECT_EQ(lines[1], "Temporary path: " + path);
  EXPECT_EQ(surface.positions(), (std::vector<uint32_t>{0, 40, 81, 100}));
  EXPECT_EQ(surface.views.back().title, "Downloading, please wait");
  EXPECT_TRUE(surface.views.back().cancel_enabled);
  EXPECT_FALSE(has_current_operation());
}

TEST_F(DownloadToFolder, UnknownLengthRunsTheMarquee) {
  http.serve(url, std::string(20000, 'b'));
  http.resources[url].send_length = false;
  download();
  EXPECT_TRUE(surface.positions().empty());
  EXPECT_TRUE(surface.views.back().marquee);
}

TEST_F(DownloadToFolder, StatusErrorLeavesTheEmptyFile) {
  http.serve(url, "missing", 404);
  try {
    download();
    FAIL() << "no error";
  } catch (const platform::PlatformError& error) {
    EXPECT_EQ(error.code(), 0x80190194u);
  }
  EXPECT_TRUE(std::filesystem::exists(folder.path() + "/installer.exe"));
  EXPECT_EQ(std::filesystem::file_size(folder.path() + "/installer.exe"), 0u);
  EXPECT_FALSE(partial_left());
}

TEST_F(DownloadToFolder, ABodyShortOfItsLengthFailsAndLeavesTheFileEmpty) {
  // A server whose body ends early: the client sees a clean end after fewer bytes.
  class ShortHttp final : public platform::Http {
   public:
    std::vector<uint8_t> get_buffer(const std::string&, uint64_t) override { return {}; }
    std::unique_ptr<platform::HttpResponse> get_headers(const std::string&) override {
      struct Response : platform::HttpResponse {
        bool sent = false;
        uint32_t status() const override { return 200; }
        void ensure_success_status_code() const override {}
        std::optional<uint64_t> content_length() const override { return 1000; }
        size_t read(uint8_t*, size_t capacity) override {
          if (sent) return 0;
          sent = true;
          return std::min<size_t>(capacity, 600);
        }
        void cancel() override {}
      };
      return std::make_unique<Response>();
    }
  } short_http;
  fake.services().http = &short_http;
  std::ofstream(folder.path() + "/installer.exe") << "old";
  EXPECT_THROW(download(), platform::PlatformError);
  EXPECT_EQ(std::filesystem::file_size(folder.path() + "/installer.exe"), 0u);
  EXPECT_FALSE(partial_left());
  EXPECT_FALSE(has_current_operation());
}

TEST_F(DownloadToFolder, CancelDuringTheCopyWithdrawsTheOperation) {
  http.serve(url, std::string(50000, 'c'));
  // Cancel through the window as soon as the bar moves.
  struct CancellingSurface : platform::WindowSurface {
    void render(const platform::WindowView& view) override {
      if (!view.marquee && view.position > 0 && !done) {
        done = true;
        on_window_event(platform::WindowEvent::cancel);
      }
    }
    void set_cursor(platform::Cursor) override {}
    void message_box(const std::string&, const std::string&) override {}
    int dpi() override { return 96; }
    void start_events(std::function<void(platform::WindowEvent)>) override {}
    bool done = false;
  } cancelling;
  fake.services().window = &cancelling;
  try {
    download();
    FAIL() << "not cancelled";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_EQ(std::filesystem::file_size(folder.path() + "/installer.exe"), 0u);
  EXPECT_FALSE(partial_left());
  EXPECT_FALSE(has_current_operation());
}

}  // namespace
}  // namespace pellora
