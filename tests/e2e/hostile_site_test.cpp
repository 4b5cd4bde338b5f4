// A hostile or broken site against every download path of the installer: the metadata file, the
// certificate, the escape hatch, the new installer, and the deployment service's .appinstaller
// and package downloads. Real HTTP, files and deployment service; only the window, the shell,
// the system calls and the clipboard are fakes, so the test sees every program start.
//
// Every fault that damages or withholds the body must end as a failed download: never taken as
// success, no downloaded program started, no partial or cut file left as the target. A slow drip
// of a complete body is no fault to refuse (the stall time-out measures silence, not total
// time): it must succeed and deliver the body intact. An endless body read into memory fails at
// its cap; one streamed into a program file would take minutes to reach its 4 GiB cap (checked
// with a small cap below), so there the user's Cancel ends it, as it would in practice.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

#include "installer/core/progress_window.h"
#include "installer/core/uri.h"
#include "installer/deploy/certificate.h"
#include "installer/deploy/escape_hatch.h"
#include "installer/deploy/install.h"
#include "installer/deploy/new_installer.h"
#include "installer/download/download.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "installer/settings/metadata.h"
#include "standin/deployment.h"
#include "standin/publisher_id.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/platform_sandbox.h"
#include "tests/support/site_server.h"

extern char** environ;

namespace pellora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char publisher[] = "CN=Trevalon Hostile, O=Quelmarin Labs, C=FR";
constexpr char package_name[] = "Trevalon.Hostile";
constexpr char version[] = "1.0.0.0";
const std::string bin_dir = TREVALON_BIN_DIR;

using testing::read_file;

std::string pattern(size_t size, char seed) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(seed + i * 13 % 251);
  return body;
}

int run(const std::vector<std::string>& command) { return pellora::testing::run_and_wait(command); }

enum class DownloadPath {
  metadata,
  certificate,
  escape_hatch,
  new_installer,
  app_installer,
  package
};

struct PathInfo {
  DownloadPath path;
  const char* name;
  const char* site_file;  // the file the faults apply to
};

const PathInfo paths[] = {
    {DownloadPath::metadata, "metadata", "metadata.properties"},
    {DownloadPath::certificate, "certificate", "site.cer"},
    {DownloadPath::escape_hatch, "escape hatch", "rescue.exe"},
    {DownloadPath::new_installer, "new installer", "Setup.exe"},
    {DownloadPath::app_installer, "package (.appinstaller)", "Trevalon.Hostile.appinstaller"},
    {DownloadPath::package, "package (.msix)", "Trevalon.Hostile.msix"},
};

// The faults that damage or withhold the body. "drip" is added per file, sized to its body.
const char* const damaging_faults[] = {"truncate", "chunked-truncate", "reset", "404",
                                       "500",      "endless",          "stall"};

struct Attempt {
  bool success = false;  // the path took what it got as good
  std::string how;       // how it ended, for the failure messages
};

class HostileSite : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(site_);
    fs::create_directories(work_.path() + "/programs");
    std::ofstream(work_.path() + "/programs/rescue.exe", std::ios::binary) << rescue_body_;
    std::ofstream(work_.path() + "/programs/Setup.exe", std::ios::binary) << installer_body_;
    std::ofstream(work_.path() + "/programs/payload.bin", std::ios::binary) << pattern(20000, 'p');
    server_ = std::make_unique<testing::SiteServer>(bin_dir + "/site-server", site_);
    ASSERT_EQ(run({bin_dir + "/make-site",
                   "--out",
                   site_,
                   "--base-url",
                   server_->url("/"),
                   "--name",
                   package_name,
                   "--publisher",
                   publisher,
                   "--version",
                   version,
                   "--file",
                   work_.path() + "/programs/payload.bin=data/payload.bin",
                   "--certificate",
                   "site.cer",
                   "--installer-name",
                   "Setup.exe",
                   "--site-file",
                   work_.path() + "/programs/rescue.exe=rescue.exe",
                   "--site-file",
                   work_.path() + "/programs/Setup.exe=Setup.exe"}),
              0);
    // Short enough that the stall cases take a moment, far above the drip's pauses.
    setenv("TREVALON_HTTP_STALL_TIMEOUT_MS", "1000", 1);
    unsetenv("TREVALON_PLATFORM_ELEVATED");
    unsetenv("TREVALON_PLATFORM_ELEVATION");
  }

  void TearDown() override {
    unsetenv("TREVALON_HTTP_STALL_TIMEOUT_MS");
    unsetenv("TREVALON_PLATFORM_ROOT");
  }

  // A drip of about a dozen pieces, 20 ms apart, of the whole file.
  std::string drip_for(const PathInfo& info) const {
    const auto size = static_cast<size_t>(fs::file_size(site_ + "/" + info.site_file));
    return "drip:" + std::to_string(std::max<size_t>(16, size / 12)) + ":20";
  }

  // Runs one download path against the site as it behaves now, in a fresh platform root and
  // temporary folder, and checks what must hold whatever the outcome.
  Attempt attempt(const PathInfo& info, const std::string& fault) {
    const std::string case_folder = work_.path() + "/case-" + std::to_string(++cases_);
    const std::string root = case_folder + "/root";
    const std::string tmp = case_folder + "/tmp/";
    fs::create_directories(root + "/trust");
    fs::create_directories(tmp);
    fs::copy_file(site_ + "/site.cer", root + "/trust/site.cer");
    setenv("TREVALON_PLATFORM_ROOT", root.c_str(), 1);

    testing::ScopedFakePlatform fake;
    fake.services().http = platform::backend_services().http;
    fake.services().files = platform::backend_services().files;
    fake.services().packages = standin::package_manager();
    fake.system.temp_path_value = tmp;
    fake.package.has_identity = true;
    burned_in_settings.site_base_url = server_->url("/");
    burned_in_settings.appinstaller_file_name = std::string(package_name) + ".appinstaller";
    burned_in_settings.certificate_file_name = "site.cer";
    burned_in_settings.installer_file_name = "Setup.exe";
    burned_in_settings.launch_uri = "trevalon-hostile:";
    burned_in_settings.package_full_name =
        standin::package_full_name(package_name, version, "arm64", "", publisher);
    create_progress_window();

    const bool endless = fault == "endless";
    Attempt result;
    switch (info.path) {
      case DownloadPath::metadata: {
        const std::unique_ptr<Metadata> metadata = fetch_metadata();
        result.success = metadata != nullptr;
        result.how = metadata ? "metadata read, version " + metadata->version_quad
                              : "no metadata: " + failure_line(fake);
        if (metadata) {
          EXPECT_EQ(metadata->version_quad, version);
        }
        break;
      }
      case DownloadPath::certificate: {
        result = ends_in_exit([] { return install_certificate(); }, false);
        const std::string local = tmp + "site.cer";
        if (result.success) {
          EXPECT_EQ(read_file(local), read_file(site_ + "/site.cer"));
        } else {
          EXPECT_TRUE(!fs::exists(local) || fs::file_size(local) == 0) << "a cut certificate";
        }
        break;
      }
      case DownloadPath::escape_hatch: {
        Metadata metadata;
        metadata.escape_hatch_exe = server_->url("/rescue.exe?mode=repair");
        metadata.escape_hatch_run_if = EscapeHatchRunIf::always;
        result = ends_in_exit([&metadata] { return run_escape_hatch(&metadata); }, endless);
        check_downloaded_program(fake, result, temp_folder(tmp) + "escape-hatch.exe", rescue_body_);
        break;
      }
      case DownloadPath::new_installer:
        result = ends_in_exit(
            [] {
              start_new_installer(download_new_installer(nullptr), "/backup folder");
              return true;
            },
            endless);
        check_downloaded_program(fake, result, temp_folder(tmp) + "installer.exe", installer_body_);
        break;
      case DownloadPath::app_installer:
      case DownloadPath::package:
        result = ends_in_exit([] { return do_install(); }, false);
        check_deployment(root, result);
        break;
    }
    if (!result.success && info.path != DownloadPath::metadata) {
      // The error box shows what report_error put on the clipboard.
      std::string detail = fake.clipboard.text.value_or(failure_line(fake));
      detail = detail.substr(0, detail.find('\n'));
      result.how += ": " + detail;
    }
    if (!result.success) {
      // Whatever arrived, nothing from the site may have been started.
      EXPECT_TRUE(fake.shell.calls.empty())
          << fake.shell.calls.front().verb << " " << fake.shell.calls.front().file;
      if (!fake.shell.calls.empty()) ++started_after_failure_;
    }
    EXPECT_FALSE(has_current_operation());
    return result;
  }

  // Runs `work`; an exit (the error box) or a platform error is a failure. With `press_cancel`
  // the user presses Cancel once the download has run for a moment, as they would with a
  // download that never ends.
  Attempt ends_in_exit(const std::function<bool()>& work, bool press_cancel) {
    auto outcome = std::async(std::launch::async, [&work]() -> Attempt {
      try {
        const bool done = work();
        return {done, done ? "succeeded" : "gave up"};
      } catch (const testing::ProcessExit& exit) {
        return {false, "exit code " + std::to_string(exit.code)};
      } catch (const platform::PlatformError& error) {
        std::ostringstream text;
        text << "error 0x" << std::hex << std::uppercase << error.code() << ": " << error.message();
        return {false, text.str()};
      }
    });
    if (press_cancel) {
      const auto give_up = Clock::now() + std::chrono::seconds(10);
      while (!has_current_operation() && Clock::now() < give_up &&
             outcome.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      on_window_event(platform::WindowEvent::cancel);
    }
    return outcome.get();
  }

  std::string temp_folder(const std::string& tmp) const {
    return tmp + burned_in_settings.package_full_name + "/";
  }

  static std::string failure_line(const testing::ScopedFakePlatform& fake) {
    for (const std::string& line : fake.debug.lines()) {
      if (line.rfind("Failed to download ", 0) == 0) return line.substr(0, line.find('\n'));
    }
    return "(no failure logged)";
  }

  // A downloaded program is started only when it arrived whole; otherwise there is no target,
  // and nothing half-written lies beside where it would be.
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

  // A failed deployment leaves no package, registration or staging behind.
  void check_deployment(const std::string& root, const Attempt& result) {
    auto empty = [](const std::string& folder) {
      return !fs::exists(folder) || fs::is_empty(folder);
    };
    if (result.success) {
      const std::string installed = root + "/packages/" + burned_in_settings.package_full_name;
      EXPECT_EQ(read_file(installed + "/data/payload.bin"), pattern(20000, 'p'));
    } else {
      EXPECT_TRUE(empty(root + "/packages"));
      EXPECT_TRUE(empty(root + "/registrations"));
    }
    EXPECT_FALSE(fs::exists(root + "/staging"));
  }

  testing::ScratchFolder work_;
  const std::string site_ = work_.path() + "/site";
  const std::string rescue_body_ = pattern(48 * 1024, 'r');
  const std::string installer_body_ = pattern(64 * 1024, 'i');
  std::unique_ptr<testing::SiteServer> server_;
  int cases_ = 0;
  int started_after_failure_ = 0;
};

TEST_F(HostileSite, NoFaultIsTakenAsSuccessAndNoPartialProgramIsStarted) {
  const auto started = Clock::now();
  int fault_cases = 0;
  int taken_as_success = 0;
  int drip_cases = 0;
  int drips_delivered = 0;
  for (const PathInfo& info : paths) {
    const std::string target = std::string("/") + info.site_file;
    {
      SCOPED_TRACE(std::string(info.name) + " without a fault");
      server_->set_faults({});
      const Attempt control = attempt(info, "none");
      EXPECT_TRUE(control.success) << control.how;
    }
    for (const char* fault : damaging_faults) {
      SCOPED_TRACE(std::string(info.name) + " with " + fault);
      server_->set_faults({target + "=" + fault});
      const Attempt result = attempt(info, fault);
      std::cout << "  " << info.name << " / " << fault << ": "
                << (result.success ? "TAKEN AS SUCCESS" : "failed") << " (" << result.how << ")\n";
      ++fault_cases;
      if (result.success) ++taken_as_success;
      EXPECT_FALSE(result.success) << result.how;
    }
    const std::string drip = drip_for(info);
    SCOPED_TRACE(std::string(info.name) + " with " + drip);
    server_->set_faults({target + "=" + drip});
    const Attempt dripped = attempt(info, drip);
    ++drip_cases;
    if (dripped.success) ++drips_delivered;
    EXPECT_TRUE(dripped.success) << dripped.how;
  }
  server_->set_faults({});

  const auto seconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count() /
      1000.0;
  std::ostringstream summary;
  summary << "hostile site matrix: " << fault_cases << " fault cases, " << taken_as_success
          << " taken as success, " << started_after_failure_
          << " programs started after a failure; " << drips_delivered << " of " << drip_cases
          << " slow drips delivered intact; " << seconds << " s";
  std::cout << summary.str() << std::endl;
  RecordProperty("fault_cases", fault_cases);
  RecordProperty("taken_as_success", taken_as_success);
  EXPECT_EQ(taken_as_success, 0);
  EXPECT_EQ(started_after_failure_, 0);
}

// The escape hatch's arguments come from the site (its URL's query). Started through the real
// shell, they reach the program split by the Windows rules alone: no shell expands, substitutes
// or chains anything.
TEST_F(HostileSite, TheSitesArgumentsReachTheProgramWithoutAShellInterpretingThem) {
  fs::copy_file(bin_dir + "/standin-probe", site_ + "/probe.exe");
  const std::string report = work_.path() + "/report";
  const std::string pwned = work_.path() + "/pwned";
  setenv("TREVALON_PLATFORM_ROOT", (work_.path() + "/root").c_str(), 1);
  setenv("TREVALON_PROBE_REPORT", report.c_str(), 1);
  fs::create_directories(work_.path() + "/tmp");

  testing::ScopedFakePlatform fake;
  fake.services().http = platform::backend_services().http;
  fake.services().files = platform::backend_services().files;
  fake.services().shell = platform::backend_services().shell;
  fake.system.temp_path_value = work_.path() + "/tmp/";
  fake.package.has_identity = true;
  create_progress_window();

  // a=$(touch P)  b=`touch P`  c=x;touch P|z&&w  d=*  e=$HOME>P
  Metadata metadata;
  metadata.escape_hatch_run_if = EscapeHatchRunIf::always;
  metadata.escape_hatch_exe =
      server_->url("/probe.exe?a=%24(touch%20" + pwned + ")&b=%60touch%20" + pwned +
                   "%60&c=x%3Btouch%20" + pwned + "%7Cz%26%26w&d=*&e=%24HOME%3E" + pwned);
  EXPECT_TRUE(run_escape_hatch(&metadata));

  for (int attempt = 0; attempt < 200 && !fs::exists(report); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::vector<std::string> arguments;
  std::istringstream lines(read_file(report));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("arg=", 0) == 0) arguments.push_back(line.substr(4));
  }
  const std::vector<std::string> expected = {"a=$(touch", pwned + ")",       "b=`touch",
                                             pwned + "`", "c=x;touch",       pwned + "|z&&w",
                                             "d=*",       "e=$HOME>" + pwned};
  EXPECT_EQ(arguments, expected);
  EXPECT_FALSE(fs::exists(pwned));
  unsetenv("TREVALON_PROBE_REPORT");
}

// The cap that keeps an endless body of a downloaded program from filling the disk, shown with
// a small cap (the real one, 4 GiB, would take the test too long to reach).
TEST_F(HostileSite, StreamedDownloadsStopAtTheirCap) {
  testing::ScopedFakePlatform fake;
  fake.services().http = platform::backend_services().http;
  fake.services().files = platform::backend_services().files;
  create_progress_window();
  const std::string folder = work_.path() + "/capped";
  fs::create_directories(folder);
  auto download = [&](const std::string& path) -> uint32_t {
    try {
      download_uri_to_folder(
          Uri(server_->url(path)), [&folder] { return folder; }, "program.exe",
          "Downloading, please wait", 32 * 1024);
    } catch (const platform::PlatformError& error) {
      return error.code();
    }
    return 0;
  };
  constexpr uint32_t file_too_large = platform::hresult::file_too_large;
  server_->set_faults({"/endless.exe=endless", "/Setup.exe=chunked"});
  EXPECT_EQ(download("/endless.exe"), file_too_large);  // no length: stopped while receiving
  EXPECT_EQ(download("/Setup.exe"), file_too_large);  // 64 KiB in chunks, no length
  server_->set_faults({});
  EXPECT_EQ(download("/Setup.exe"), file_too_large);  // refused on its Content-Length
  EXPECT_EQ(download("/rescue.exe"), file_too_large);
  EXPECT_TRUE(fs::is_empty(folder)) << "nothing is kept of a capped download";
  EXPECT_EQ(download("/metadata.properties"), 0u);
}

}  // namespace
}  // namespace pellora
