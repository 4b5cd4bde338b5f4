#include "tests/support/fake_platform.h"

#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"

namespace pellora::testing {

void FakeDebugOutput::write(std::string_view text) {
  std::lock_guard lock(mutex_);
  lines_.emplace_back(text);
}

std::vector<std::string> FakeDebugOutput::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::string FakeDebugOutput::text() const {
  std::lock_guard lock(mutex_);
  std::string all;
  for (const auto& line : lines_) all += line;
  return all;
}

bool FakeDebugOutput::contains(const std::string& fragment) const {
  return text().find(fragment) != std::string::npos;
}

void FakeSystem::exit_process(int code) { throw ProcessExit{code}; }

bool FakeSystem::submit_work(std::function<void()> work) {
  if (refuse_work) {
    platform::set_last_error(*refuse_work);
    return false;
  }
  work();
  return true;
}

void FakeSystem::sleep_ms(uint32_t milliseconds) {
  {
    std::lock_guard lock(mutex_);
    sleeps.push_back(milliseconds);
  }
  if (on_sleep) on_sleep(milliseconds);
}

std::optional<std::string> FakeSystem::get_env(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto found = environment.find(name);
  if (found == environment.end()) return std::nullopt;
  return found->second;
}

void FakeSystem::set_env(const std::string& name, const std::string& value) {
  std::lock_guard lock(mutex_);
  environment[name] = value;
}

void FakeWindowSurface::render(const platform::WindowView& view) {
  std::lock_guard lock(mutex_);
  views_.push_back(view);
}

void FakeWindowSurface::set_cursor(platform::Cursor cursor) {
  std::lock_guard lock(mutex_);
  cursors.push_back(cursor);
}

void FakeWindowSurface::message_box(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  boxes.emplace_back(text, caption);
}

void FakeWindowSurface::start(platform::WindowCallbacks callbacks) {
  std::lock_guard lock(mutex_);
  event_sink = std::move(callbacks.on_event);
}

platform::WindowView FakeWindowSurface::last_view() const {
  std::lock_guard lock(mutex_);
  return views_.empty() ? platform::WindowView{} : views_.back();
}

bool FakeWindowSurface::was_ever_visible() const {
  std::lock_guard lock(mutex_);
  for (const auto& view : views_) {
    if (view.visible) return true;
  }
  return false;
}

void FakeClipboard::set_text_and_flush(const std::string& value) {
  if (refuse) throw platform::PlatformError(0x800401d0, "OpenClipboard Failed");
  text = value;
}

intptr_t FakeShell::shell_execute(const std::string& verb, const std::string& file,
                                  const std::string& parameters, int show_command) {
  calls.push_back({verb, file, parameters, show_command});
  if (result <= 32) platform::set_last_error(failure_error);
  return result;
}

uint32_t FakeCurrentPackage::get_current_package_full_name_result() {
  return has_identity ? 122 /* ERROR_INSUFFICIENT_BUFFER */ : platform::win32::no_package;
}

void FakeCurrentPackage::require_identity() const {
  if (!has_identity) {
    throw platform::PlatformError(platform::hresult::no_package,
                                  "The process has no package identity.");
  }
}

std::string FakeCurrentPackage::installed_path() {
  require_identity();
  return installed_path_value;
}

platform::PackageVersion FakeCurrentPackage::version() {
  require_identity();
  return version_value;
}

std::string FakeCurrentPackage::family_name() {
  require_identity();
  ++family_name_lookups;
  return family_name_value;
}

std::string FakeCurrentPackage::local_folder() {
  require_identity();
  return local_folder_value;
}

std::string FakeCurrentPackage::roaming_folder() {
  require_identity();
  return roaming_folder_value;
}

std::string FakeCurrentPackage::local_cache_folder() {
  require_identity();
  return local_cache_folder_value;
}

ScopedFakePlatform::ScopedFakePlatform()
    : saved_services_(platform::services()), saved_settings_(burned_in_settings) {
  platform::Services& s = platform::services();
  s = platform::Services{};
  s.debug = &debug;
  s.system = &system;
  s.window = &window;
  s.clipboard = &clipboard;
  s.shell = &shell;
  s.current_package = &package;
  reset_progress_window_for_tests();
  update_mode = '0';
  forwarded_args.clear();
  burned_in_settings = BurnedInSettings{};
  burned_in_settings.package_full_name = "App_1.0.0.0_arm64__abc";
}

ScopedFakePlatform::~ScopedFakePlatform() {
  reset_progress_window_for_tests();
  update_mode = '0';
  forwarded_args.clear();
  burned_in_settings = saved_settings_;
  platform::services() = saved_services_;
}

}  // namespace pellora::testing
