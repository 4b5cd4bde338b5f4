#pragma once
// Fakes of the platform services. ScopedFakePlatform puts them in place for one test and resets
// the installer's process-wide state around it.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "installer/core/burned_in_settings.h"
#include "installer/platform/services.h"

namespace pellora::testing {

// What exit_process throws in tests, so a test can see the exit code.
struct ProcessExit {
  int code;
};

class FakeDebugOutput final : public platform::DebugOutput {
 public:
  void write(std::string_view text) override;
  std::vector<std::string> lines() const;
  // Everything written, concatenated.
  std::string text() const;
  bool contains(const std::string& fragment) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class FakeSystem final : public platform::System {
 public:
  [[noreturn]] void exit_process(int code) override;
  // Runs the work at once, on the calling thread, unless `refuse_work` names the error to fail
  // with.
  bool submit_work(std::function<void()> work) override;
  uint32_t process_id() override { return 4242; }
  void sleep_ms(uint32_t milliseconds) override;
  std::string module_file_name() override { return module_file_name_value; }
  std::string temp_path() override { return temp_path_value; }
  std::optional<std::string> get_env(const std::string& name) override;
  void set_env(const std::string& name, const std::string& value) override;
  bool current_user_is_admin() override { return is_admin; }

  std::vector<uint32_t> sleeps;
  std::function<void(uint32_t)> on_sleep;  // called after each recorded sleep
  std::string module_file_name_value = "/opt/pellora/pellora";
  std::string temp_path_value = "/tmp/";
  std::map<std::string, std::string> environment;
  bool is_admin = true;
  std::optional<uint32_t> refuse_work;

 private:
  std::mutex mutex_;
};

class FakeWindowSurface final : public platform::WindowSurface {
 public:
  void render(const platform::WindowView& view) override;
  void set_cursor(platform::Cursor cursor) override;
  void message_box(const std::string& text, const std::string& caption) override;
  int dpi() override { return dpi_value; }
  void start(platform::WindowCallbacks callbacks) override;

  platform::WindowView last_view() const;
  bool was_ever_visible() const;

  int dpi_value = 96;
  std::vector<std::pair<std::string, std::string>> boxes;  // text, caption
  std::vector<platform::Cursor> cursors;
  std::function<void(platform::WindowEvent)> event_sink;

 private:
  mutable std::mutex mutex_;
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
  intptr_t shell_execute(const std::string& verb, const std::string& file,
                         const std::string& parameters, int show_command) override;

  std::vector<Call> calls;
  intptr_t result = 42;        // > 32 succeeds
  uint32_t failure_error = 0;  // last error set when result <= 32
};

class FakeCurrentPackage final : public platform::CurrentPackage {
 public:
  uint32_t get_current_package_full_name_result() override;
  std::string installed_path() override;
  platform::PackageVersion version() override;
  std::string family_name() override;
  std::string local_folder() override;
  std::string roaming_folder() override;
  std::string local_cache_folder() override;

  bool has_identity = false;
  std::string installed_path_value = "/packages/App_1.0.0.0_arm64__abc";
  platform::PackageVersion version_value{1, 0, 0, 0};
  std::string family_name_value = "App_abc";
  std::string local_folder_value = "/data/LocalState";
  std::string roaming_folder_value = "/data/RoamingState";
  std::string local_cache_folder_value = "/data/LocalCache";
  int family_name_lookups = 0;

 private:
  void require_identity() const;
};

// Installs the fakes (and whatever services a test sets on `services` afterwards) and resets
// update_mode, forwarded_args, the burned-in settings and the window around the test.
class ScopedFakePlatform {
 public:
  ScopedFakePlatform();
  ~ScopedFakePlatform();
  ScopedFakePlatform(const ScopedFakePlatform&) = delete;
  ScopedFakePlatform& operator=(const ScopedFakePlatform&) = delete;

  platform::Services& services() { return platform::services(); }

  FakeDebugOutput debug;
  FakeSystem system;
  FakeWindowSurface window;
  FakeClipboard clipboard;
  FakeShell shell;
  FakeCurrentPackage package;

 private:
  platform::Services saved_services_;
  BurnedInSettings saved_settings_;
};

}  // namespace pellora::testing
