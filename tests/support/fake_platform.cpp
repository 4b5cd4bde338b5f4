#include "tests/support/fake_platform.h"

#include "common/error.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/flow/flow_steps.h"
#include "installer/platform/backend.h"

namespace pellora::testing {

std::string ending_of(const std::function<void()>& work) {
  try {
    work();
    return "returned";
  } catch (const ProcessExit& exit) {
    return "exit " + std::to_string(exit.code);
  } catch (const platform::PlatformError& error) {
    return error.is_cancellation() ? "cancelled" : "error " + hex(error.code());
  }
}

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

bool FakeSystem::submit_work(std::function<void()> work) {
  if (refuse_work) {
    platform::set_last_error(*refuse_work);
    return false;
  }
  if (work_on_thread) {
    worker_ = std::thread(std::move(work));
  } else {
    work();
  }
  return true;
}

std::string FakeSystem::path_separator() {
  return platform::backend_services().system->path_separator();
}

uint32_t FakeSystem::last_error() { return platform::backend_services().system->last_error(); }

void FakeSystem::set_last_error(uint32_t code) {
  platform::backend_services().system->set_last_error(code);
}

std::string FakeSystem::format_message(uint32_t code) {
  return platform::backend_services().system->format_message(code);
}

void FakeSystem::join_work() {
  if (worker_.joinable()) worker_.join();
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

bool FakeWindowSurface::start(platform::WindowCallbacks) {
  std::lock_guard lock(mutex_);
  window_thread_ = std::this_thread::get_id();
  return true;
}

void FakeWindowSurface::note_thread_locked() {
  if (window_thread_ && *window_thread_ != std::this_thread::get_id()) ++calls_off_window_thread_;
}

int FakeWindowSurface::calls_off_window_thread() const {
  std::lock_guard lock(mutex_);
  return calls_off_window_thread_;
}

void FakeWindowSurface::render(const platform::WindowView& view) {
  std::lock_guard lock(mutex_);
  note_thread_locked();
  views_.push_back(view);
}

void FakeWindowSurface::set_cursor(platform::Cursor cursor) {
  std::lock_guard lock(mutex_);
  note_thread_locked();
  cursors.push_back(cursor);
}

void FakeWindowSurface::message_box(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  note_thread_locked();
  boxes.emplace_back(text, caption);
}

void FakeWindowSurface::wait(std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!on_wait) return platform::WindowSurface::wait(deadline);
  on_wait(deadline);
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

std::vector<uint32_t> FakeWindowSurface::bar_positions() const {
  std::lock_guard lock(mutex_);
  std::vector<uint32_t> positions;
  for (const auto& view : views_) {
    if (!view.marquee && (positions.empty() || positions.back() != view.position)) {
      positions.push_back(view.position);
    }
  }
  return positions;
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

std::unique_ptr<platform::Sha256> FakeCrypto::start_sha256() {
  return platform::backend_services().crypto->start_sha256();
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
  s.files = platform::backend_services().files;
  s.crypto = &crypto;
  system.temp_path_value = scratch.path() + platform::backend_services().system->path_separator();
  reset_progress_window_for_tests();
  update_mode = '0';
  forwarded_args.clear();
  reset_restore_state_for_tests();
  burned_in_settings = BurnedInSettings{};
  burned_in_settings.package_full_name = "App_1.0.0.0_arm64__abc";
}

ScopedFakePlatform::~ScopedFakePlatform() {
  system.join_work();
  reset_progress_window_for_tests();
  update_mode = '0';
  forwarded_args.clear();
  reset_restore_state_for_tests();
  burned_in_settings = saved_settings_;
  platform::services() = saved_services_;
}

}  // namespace pellora::testing
