#include "installer/download/download.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "installer/core/progress_window.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"
#include "tests/support/platform_error.h"

namespace pellora {
namespace {

TEST(DownloadToFolder, WritesTheBodyLogsAndDrivesTheBar) {
  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
  fake.services().http = &http;
  create_progress_window();
  const std::string url = "http://site.example/installer.exe";
  http.serve(url, std::string(20000, 'a'));
  http.chunk_size = 8192;

  const std::string path = download_uri_to_folder(
      Uri(url), [&] { return fake.scratch.path(); }, "installer.exe", "Downloading, please wait");

  EXPECT_EQ(path, fake.scratch.path("installer.exe"));
  EXPECT_EQ(fake.scratch.read("installer.exe"), std::string(20000, 'a'));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fake.scratch.path()), {}), 1)
      << "the pending file became the target";
  const auto lines = fake.debug.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Downloading " + url + "...");
  EXPECT_EQ(lines[1], "Temporary path: " + path);
  EXPECT_EQ(fake.window.bar_positions(), (std::vector<uint32_t>{0, 40, 81, 100}));
  EXPECT_EQ(fake.window.last_view().title, "Downloading, please wait");
  EXPECT_TRUE(fake.window.last_view().cancel_enabled);
  EXPECT_FALSE(has_current_operation());
}

// A body over the cap (a small one here: the real one is 4 GiB) fails and leaves the earlier
// download whole and alone; one at the cap is taken.
TEST(DownloadToFolder, ABodyOverTheCapFailsAndKeepsTheEarlierFile) {
  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
  fake.services().http = &http;
  create_progress_window();
  fake.scratch.write("app.bin", "earlier download");
  const std::string url = "http://site.example/app.bin";
  const auto download = [&] {
    download_uri_to_folder(
        Uri(url), [&] { return fake.scratch.path(); }, "app.bin", "Downloading", 32 * 1024);
  };
  http.serve(url, std::string(32 * 1024 + 1, 'a'));
  EXPECT_EQ(testing::error_code_of(download), platform::hresult::file_too_large);
  EXPECT_EQ(fake.scratch.read("app.bin"), "earlier download");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fake.scratch.path()), {}), 1);
  EXPECT_FALSE(has_current_operation());
  http.serve(url, std::string(32 * 1024, 'a'));
  EXPECT_EQ(testing::error_code_of(download), 0u);
}

}  // namespace
}  // namespace pellora
