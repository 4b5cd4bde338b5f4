// A hostile or broken site against every download path of the installer, with real HTTP, files,
// signature checks and deployment service (the shell is faked, so the test sees every program
// start and import). A fault that damages or withholds the body, or a file whose signature does
// not match the burned-in key, must fail: nothing started, no cut file left as the target.
// A slow drip of a whole body must succeed intact (the stall time-out measures silence). An
// endless body streamed into a program file would take minutes to reach its 4 GiB cap (a small
// cap is checked in download_test.cpp), so there the user's Cancel ends it, as in practice.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "common/error.h"
#include "installer/core/progress_window.h"
#include "installer/deploy/certificate.h"
#include "installer/deploy/escape_hatch.h"
#include "installer/deploy/install.h"
#include "installer/deploy/new_installer.h"
#include "installer/platform/backend.h"
#include "installer/settings/metadata.h"
#include "standin/deployment.h"
#include "tests/support/e2e_site.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

namespace fs = std::filesystem;
using testing::read_file;

constexpr char version[] = "1.0.0.0";

std::string pattern(size_t size, char seed) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(seed + i * 13 % 251);
  return body;
}

enum class DownloadPath { metadata, certificate, escape_hatch, new_installer, package };

struct PathInfo {
  DownloadPath path;
  const char* name;
  const char* site_file;  // the file the faults apply to
};

const PathInfo paths[] = {
    {DownloadPath::metadata, "metadata", "metadata.properties"},
    {DownloadPath::certificate, "certificate", "Hostile.cer"},
    {DownloadPath::escape_hatch, "escape hatch", "rescue.exe"},
    {DownloadPath::new_installer, "new installer", "Setup.exe"},
    {DownloadPath::package, "package (.appinstaller)", "Trevalon.Hostile.appinstaller"},
    {DownloadPath::package, "package (.msix)", "Trevalon.Hostile.msix"},
};

// The faults that damage or withhold the body. "drip" is added per file, sized to its body.
const char* const damaging_faults[] = {"truncate", "chunked-truncate", "reset", "404",
                                       "500",      "endless",          "stall"};

struct Attempt {
  bool success = false;  // the path took what it got as good
  std::string how;       // how it ended, for the failure messages
};

class HostileSite : public testing::SiteTest {
 protected:
  HostileSite() : SiteTest("Hostile", std::chrono::seconds(10)) {}

  void SetUp() override {
    SiteTest::SetUp();
    work_.write("rescue.exe", rescue_body_);
    work_.write("Setup.exe", installer_body_);
    work_.write("payload.bin", pattern(20000, 'p'));
    sign_site("");
    // Short enough that the stall cases take a moment, far above the drip's pauses: for the
    // installer's transfers and for the stand-in's deployment service.
    platform::HttpTimeouts short_stall;
    short_stall.stall_ms = 1000;
    platform::backend_services().http->set_timeouts(short_stall);
    setenv("TREVALON_HTTP_STALL_TIMEOUT_MS", "1000", 1);
  }

  void TearDown() override {
    unsetenv("TREVALON_HTTP_STALL_TIMEOUT_MS");
    platform::backend_services().http->set_timeouts({});
    SiteTest::TearDown();
  }

  // Runs one download path in a fresh root and checks what must hold whatever the outcome.
  Attempt attempt(const PathInfo& info, const std::string& fault) {
    const std::string root = work_.path("case-" + std::to_string(++cases_) + "/root");
    fs::create_directories(root + "/trust");
    fs::copy_file(site_ / "Hostile.cer", root + "/trust/Hostile.cer");
    setenv("TREVALON_PLATFORM_ROOT", root.c_str(), 1);
    testing::ScopedFakePlatform fake;
    fake.services().http = platform::backend_services().http;
    fake.services().crypto = platform::backend_services().crypto;
    fake.services().packages = standin::package_manager();
    fake.package.has_identity = true;
    burned_in_settings.site_base_url = base_url();
    burned_in_settings.appinstaller_file_name = "Trevalon.Hostile.appinstaller";
    burned_in_settings.certificate_file_name = "Hostile.cer";
    burned_in_settings.installer_file_name = "Setup.exe";
    burned_in_settings.package_full_name = full_name(version);
    burned_in_settings.update_key = update_key_;
    const std::string temp_folder = fake.scratch.path(burned_in_settings.package_full_name) + "/";
    create_progress_window();

    const bool endless = fault == "endless";
    Attempt result;
    switch (info.path) {
      case DownloadPath::metadata: {
        const std::unique_ptr<Metadata> metadata = fetch_metadata();
        result = {metadata != nullptr, metadata ? "read" : "no metadata"};
        EXPECT_EQ(metadata ? metadata->version_quad : version, version);
        break;
      }
      case DownloadPath::certificate:
        result = ends_in_exit([] { return install_certificate(); }, false);
        if (result.success) {
          EXPECT_EQ(fake.scratch.read("Hostile.cer"), read_file(site_ / "Hostile.cer"));
        } else {
          EXPECT_EQ(fake.scratch.read("Hostile.cer"), "") << "a cut certificate";
        }
        break;
      case DownloadPath::escape_hatch: {
        Metadata metadata;
        metadata.escape_hatch_exe = server_->url("/rescue.exe?mode=repair");
        metadata.escape_hatch_run_if = EscapeHatchRunIf::always;
        result = ends_in_exit([&metadata] { return run_escape_hatch(&metadata); }, endless);
        check_downloaded_program(fake, result, temp_folder + "escape-hatch.exe", rescue_body_);
        break;
      }
      case DownloadPath::new_installer:
        result = ends_in_exit(
            [] { return start_new_installer(download_new_installer(nullptr), "/backup"), true; },
            endless);
        check_downloaded_program(fake, result, temp_folder + "installer.exe", installer_body_);
        break;
      case DownloadPath::package: {
        result = ends_in_exit([] { return do_install() == InstallOutcome::installed; }, false);
        // A failed deployment leaves no package, registration or staging behind.
        const auto empty = [&](const char* folder) {
          return !fs::exists(root + folder) || fs::is_empty(root + folder);
        };
        if (result.success) {
          EXPECT_EQ(read_file(root + "/packages/" + burned_in_settings.package_full_name +
                              "/data/payload.bin"),
                    pattern(20000, 'p'));
        } else {
          EXPECT_TRUE(empty("/packages") && empty("/registrations"));
        }
        EXPECT_FALSE(fs::exists(root + "/staging"));
        break;
      }
    }
    if (!result.success) {
      // The error box shows what report_error put on the clipboard; the log, what was ignored.
      // The line that says why, when there is one.
      const std::string detail = fake.clipboard.text.value_or(fake.debug.text());
      const size_t why = detail.find("did not match");
      const size_t line = why == std::string::npos ? 0 : detail.rfind('\n', why) + 1;
      result.how += ": " + detail.substr(line, detail.find('\n', line) - line);
      // Whatever arrived, nothing from the site may have been started.
      EXPECT_TRUE(fake.shell.calls.empty()) << fake.shell.calls.front().file;
    }
    EXPECT_FALSE(has_current_operation());
    return result;
  }

  // Runs `work` on a worker, as the flow runs, while this thread (the window's) runs the window's
  // loop; an exit (the error box) or a platform error is a failure. With `press_cancel` the user
  // presses Cancel once the download has run for a moment.
  Attempt ends_in_exit(const std::function<bool()>& work, bool press_cancel) {
    std::atomic<bool> finished{false};
    auto outcome = std::async(std::launch::async, [&work, &finished] {
      bool done = false;
      const std::string how = testing::ending_of([&] { done = work(); });
      finished = true;
      on_window_event(platform::WindowEvent::close);  // ends the loop
      return Attempt{how == "returned" && done, how};
    });
    std::thread user;
    if (press_cancel) {
      user = std::thread([&finished] {
        testing::wait_until([&] { return has_current_operation() || finished; });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        on_window_event(platform::WindowEvent::cancel);
      });
    }
    run_message_loop();
    if (user.joinable()) user.join();
    return outcome.get();
  }

  // A program is started only when it arrived whole; else no target, nothing half-written.
  void check_downloaded_program(const testing::ScopedFakePlatform& fake, const Attempt& result,
                                const std::string& local, const std::string& body) {
    for (const auto& entry : fs::directory_iterator(fs::path(local).parent_path())) {
      EXPECT_EQ(entry.path().filename().string().find(fs::path(local).filename().string() + "."),
                std::string::npos)
          << "a pending file was left: " << entry.path();
    }
    if (result.success) {
      ASSERT_EQ(fake.shell.calls.size(), 1u);
      EXPECT_EQ(fake.shell.calls[0].file, local);
      EXPECT_TRUE(read_file(local) == body) << "the started program differs from the site's";
    } else {
      EXPECT_FALSE(fs::exists(local)) << "a cut program was kept";
    }
  }

  // Publishes the site, signed with the key `key` made (nothing signed for none).
  void sign_site(const std::string& key) {
    std::vector<std::string> options = {
        "--file",           work_.path("payload.bin=data/payload.bin"),
        "--installer-name", "Setup.exe",
        "--site-file",      work_.path("rescue.exe=rescue.exe"),
        "--site-file",      work_.path("Setup.exe=Setup.exe")};
    if (!key.empty()) options.insert(options.end(), {"--signing-key", sandbox_.path(key + ".pem")});
    make_site(version, options);
  }

  testing::ScratchFolder work_;
  std::string update_key_;
  const std::string rescue_body_ = pattern(48 * 1024, 'r');
  const std::string installer_body_ = pattern(64 * 1024, 'i');
  int cases_ = 0;
};

TEST_F(HostileSite, NoFaultIsTakenAsSuccessAndNoPartialProgramIsStarted) {
  for (const PathInfo& info : paths) {
    // A drip of about a dozen pieces, 20 ms apart, of the whole file.
    const auto size = static_cast<size_t>(fs::file_size(site_ / info.site_file));
    std::vector<std::string> faults = {"none"};
    faults.insert(faults.end(), std::begin(damaging_faults), std::end(damaging_faults));
    faults.push_back("drip:" + std::to_string(std::max<size_t>(16, size / 12)) + ":20");
    for (const std::string& fault : faults) {
      SCOPED_TRACE(std::string(info.name) + " with " + fault);
      server_->set_faults({std::string("/") + info.site_file + "=" + fault});
      const Attempt result = attempt(info, fault);
      // Without a fault, or with a slow drip of the whole body, the path must succeed.
      const bool delivers = fault == "none" || fault.starts_with("drip");
      EXPECT_EQ(result.success, delivers) << result.how;
    }
  }
}

// Every way a file can fail its signature, for each file the installer acts on: nothing accepted,
// started or imported, and nothing kept under the file's name.
TEST_F(HostileSite, WithAKeyBurnedInOnlyTheVendorsSignatureOfEachFileCounts) {
  make_key("other");
  update_key_ = make_key("vendor");
  sign_site("other");
  const fs::path by_other_key = work_.path("by-other-key");
  fs::copy(site_, by_other_key);
  sign_site("vendor");
  const fs::path signed_site = work_.path("signed");
  fs::copy(site_, signed_site);

  for (size_t i = 0; i < 4; ++i) {
    const std::string file = paths[i].site_file;
    const auto take = [&](const fs::path& from, const std::string& as) {
      fs::copy_file(from / as, site_ / file, fs::copy_options::overwrite_existing);
      fs::copy_file(from / (as + ".sig"), site_ / (file + ".sig"),
                    fs::copy_options::overwrite_existing);
    };
    for (const std::string tampering :
         {"intact", "one byte changed", "another signed file", "no signature", "another key"}) {
      SCOPED_TRACE(std::string(paths[i].name) + ", " + tampering);
      fs::remove_all(site_);
      fs::copy(signed_site, site_);
      if (tampering == "one byte changed") {
        std::string body = read_file(site_ / file);
        body[body.size() / 2] ^= 0x20;
        std::ofstream(site_ / file, std::ios::binary) << body;
      } else if (tampering == "another signed file") {
        take(signed_site, paths[(i + 1) % 4].site_file);
      } else if (tampering == "no signature") {
        fs::remove(site_ / (file + ".sig"));
      } else if (tampering == "another key") {
        take(by_other_key, file);
      }
      const Attempt result = attempt(paths[i], "none");
      EXPECT_EQ(result.success, tampering == "intact") << result.how;
      EXPECT_TRUE(result.success || result.how.find("did not match") != std::string::npos)
          << result.how;
    }
  }
}

}  // namespace
}  // namespace pellora
