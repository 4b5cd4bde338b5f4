#pragma once
// Fakes of the platform services. ScopedFakePlatform puts them in place for one test and resets
// the installer's process-wide state around it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "installer/core/burned_in_settings.h"
#include "installer/platform/services.h"
#include "tests/support/scratch_folder.h"

namespace pellora::testing {

// What exit_process throws in tests, so a test can see the exit code.
struct ProcessExit {
  int code;
};

// How `work` ended: "returned", "exit <code>" (through exit_process), "cancelled", or
// "error <HRESULT in hex>" for another platform error.
std::string ending_of(const std::function<void()>& work);

class FakeDebugOutput final : public platform::DebugOutput {
 public:
  void write(std::string_view text) override;
  std::vector<std::string> lines() const;
  // Everything written, concatenated.
  std::string text() const;
  bool contains(const std::string& fragment) const { return text().find(fragment) != text().npos; }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class FakeSystem final : public platform::System {
 public:
  [[noreturn]] void exit_process(int code) override { throw ProcessExit{code}; }
  // Runs the work at once, on the calling thread (on a thread of its own with `work_on_thread`,
  // joined by join_work()), unless `refuse_work` names the error to fail with.
  bool submit_work(std::function<void()> work) override;
  void join_work();
  uint32_t process_id() override { return 4242; }
  // Recorded, then `on_sleep` is called.
  void sleep_ms(uint32_t milliseconds) override;
  uint64_t tick_count_ms() override { return tick_count; }
  std::string module_file_name() override { return module_file_name_value; }
  std::string temp_path() override { return temp_path_value; }
  std::optional<std::string> get_env(const std::string& name) override;
  void set_env(const std::string& name, const std::string& value) override;
  bool current_user_is_admin() override { return is_admin; }
  // The backend's: the real file services beside the fakes set the last error the core reads.
  std::string path_separator() override;
  uint32_t last_error() override;
  void set_last_error(uint32_t code) override;
  std::string format_message(uint32_t code) override;
  std::string powershell_path() override { return powershell_path_value; }

  std::vector<uint32_t> sleeps;
  uint64_t tick_count = 1000;
  std::function<void(uint32_t)> on_sleep;
  std::string module_file_name_value = "/opt/pellora/pellora";
  std::string temp_path_value;
  std::map<std::string, std::string> environment;
  bool is_admin = true;
  std::string powershell_path_value =
      "C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";
  std::optional<uint32_t> refuse_work;
  bool work_on_thread = false;

 private:
  std::mutex mutex_;
  std::thread worker_;
};

class FakeWindowSurface final : public platform::WindowSurface {
 public:
  void render(const platform::WindowView& view) override;
  void set_cursor(platform::Cursor cursor) override;
  void message_box(const std::string& text, const std::string& caption) override;
  int dpi() override { return 96; }
  // Takes the calling thread as the window's.
  bool start(platform::WindowCallbacks) override;
  // The window thread's wait: `on_wait` when set (where a test lets time pass), else the default.
  void wait(std::optional<std::chrono::steady_clock::time_point> deadline) override;

  platform::WindowView last_view() const;
  bool was_ever_visible() const;
  // Each distinct position the determinate bar showed, in order.
  std::vector<uint32_t> bar_positions() const;

  std::vector<std::pair<std::string, std::string>> boxes;  // text, caption
  std::vector<platform::Cursor> cursors;
  std::function<void(std::optional<std::chrono::steady_clock::time_point>)> on_wait;
  // Draws and boxes asked for on another thread than the one that started the window.
  int calls_off_window_thread() const;

 private:
  void note_thread_locked();

  mutable std::mutex mutex_;
  std::optional<std::thread::id> window_thread_;
  int calls_off_window_thread_ = 0;
  std::vector<platform::WindowView> views_;
};

class FakeClipboard final : public platform::Clipboard {
 public:
  void set_text_and_flush(const std::string& text) override;
  std::optional<std::string> text;
  bool refuse = false;
};

class FakeShell final : public platform::Shell {
 public:
  struct Call {
    std::string verb;
    std::string file;
    std::string parameters;
    int show_command;
  };
  // Recorded; a result of 32 or less sets `failure_error` as the last error.
  intptr_t shell_execute(const std::string& verb, const std::string& file,
                         const std::string& parameters, int show_command) override;

  std::vector<Call> calls;
  intptr_t result = 42;
  uint32_t failure_error = 0;
};

// The system's SHA-256, and a stand-in signature that needs no key: the digest twice.
class FakeCrypto final : public platform::Crypto {
 public:
  std::unique_ptr<platform::Sha256> start_sha256() override;
  bool verify_p256(std::span<const uint8_t>, const platform::Sha256Digest& digest,
                   std::span<const uint8_t> signature) override {
    return std::string(signature.begin(), signature.end()) == sign(digest);
  }
  static std::string sign(const platform::Sha256Digest& digest) {
    return std::string(digest.begin(), digest.end()) + std::string(digest.begin(), digest.end());
  }
};

// Without identity every call but the first raises the platform's no-package error.
class FakeCurrentPackage final : public platform::CurrentPackage {
 public:
  uint32_t get_current_package_full_name_result() override;
  std::string installed_path() override { return with_identity(installed_path_value); }
  platform::PackageVersion version() override { return with_identity(version_value); }
  std::string family_name() override { return with_identity(family_name_value); }
  std::string local_folder() override { return with_identity(local_folder_value); }
  std::string roaming_folder() override { return with_identity(roaming_folder_value); }
  std::string local_cache_folder() override { return with_identity(local_cache_folder_value); }

  bool has_identity = false;
  std::string installed_path_value = "/packages/App_1.0.0.0_arm64__abc";
  platform::PackageVersion version_value{1, 0, 0, 0};
  std::string family_name_value = "App_abc";
  std::string local_folder_value = "/data/LocalState";
  std::string roaming_folder_value = "/data/RoamingState";
  std::string local_cache_folder_value = "/data/LocalCache";

 private:
  template <typename T>
  T with_identity(const T& value) const {
    require_identity();
    return value;
  }
  void require_identity() const;
};

// Installs the fakes (and whatever services a test sets on `services` afterwards) and resets
// update_mode, forwarded_args, the burned-in settings and the window around the test. Files are
// the real backend's, with a fresh scratch folder as the temporary folder.
class ScopedFakePlatform {
 public:
  ScopedFakePlatform();
  ~ScopedFakePlatform();
  ScopedFakePlatform(const ScopedFakePlatform&) = delete;
  ScopedFakePlatform& operator=(const ScopedFakePlatform&) = delete;

  platform::Services& services() { return platform::services(); }

  ScratchFolder scratch;
  FakeDebugOutput debug;
  FakeSystem system;
  FakeWindowSurface window;
  FakeClipboard clipboard;
  FakeShell shell;
  FakeCurrentPackage package;
  FakeCrypto crypto;

 private:
  platform::Services saved_services_;
  BurnedInSettings saved_settings_;
};

}  // namespace pellora::testing
