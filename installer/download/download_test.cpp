#include "installer/download/download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "installer/core/progress_window.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch_folder.h"

namespace pellora {
namespace {

using testing::read_file;

// Records every view the window renders, so a test can see each bar position.
class RecordingSurface final : public platform::WindowSurface {
 public:
  void render(const platform::WindowView& view) override { views.push_back(view); }
  void set_cursor(platform::Cursor) override {}
  void message_box(const std::string&, const std::string&) override {}
  int dpi() override { return 96; }
  void start(platform::WindowCallbacks) override {}
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
    fake.services().files = platform::backend_services().files;
    fake.services().window = &surface;
    create_progress_window();
  }
  std::string download(const std::string& name = "installer.exe") {
    return download_uri_to_folder(
        Uri(url), [this] { return folder.path(); }, name, "Downloading, please wait");
  }
  size_t entries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder.path()),
                                             std::filesystem::directory_iterator()));
  }

  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
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
  EXPECT_EQ(entries(), 1u) << "the pending file became the target";

  const auto lines = fake.debug.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Downloading " + url + "...");
  EXPECT_EQ(lines[1], "Temporary path: " + path);
  EXPECT_EQ(surface.positions(), (std::vector<uint32_t>{0, 40, 81, 100}));
  EXPECT_EQ(surface.views.back().title, "Downloading, please wait");
  EXPECT_TRUE(surface.views.back().cancel_enabled);
  EXPECT_FALSE(has_current_operation());
}

}  // namespace
}  // namespace pellora
