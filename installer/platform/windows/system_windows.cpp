#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
#include <lm.h>
#include <stdlib.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

// The runtime's environment functions are not safe against each other across threads.
std::mutex& environment_mutex() {
  static std::mutex mutex;
  return mutex;
}

// Frees what the network management calls allocated.
struct NetBuffer {
  BYTE* data = nullptr;
  ~NetBuffer() {
    if (data != nullptr) NetApiBufferFree(data);
  }
};

class WindowsSystem final : public System {
 public:
  [[noreturn]] void exit_process(int code) override {
    std::fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
  }

  bool submit_work(std::function<void()> work) override {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    if (!TrySubmitThreadpoolCallback(&WindowsSystem::run_work, owned.get(), nullptr)) return false;
    owned.release();  // run_work owns it now
    return true;
  }

  uint32_t process_id() override { return GetCurrentProcessId(); }

  void sleep_ms(uint32_t milliseconds) override { Sleep(milliseconds); }
  uint64_t tick_count_ms() override { return GetTickCount64(); }

  std::string module_file_name() override { return own_program_path(); }

  std::string temp_path() override {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return {};
    return to_utf8(std::wstring_view(buffer, length));
  }

  std::optional<std::string> get_env(const std::string& name) override {
    std::lock_guard lock(environment_mutex());
    const wchar_t* value = _wgetenv(to_utf16(name).c_str());
    if (value == nullptr) return std::nullopt;
    return to_utf8(value);
  }

  // Also the process's environment block, which the programs started later inherit.
  void set_env(const std::string& name, const std::string& value) override {
    std::lock_guard lock(environment_mutex());
    _wputenv_s(to_utf16(name).c_str(), to_utf16(value).c_str());
  }

  bool current_user_is_admin() override {
    wchar_t name[UNLEN + 1];
    DWORD length = UNLEN + 1;
    if (!GetUserNameW(name, &length)) return false;
    NetBuffer info;
    if (NetUserGetInfo(nullptr, name, 1, &info.data) != NERR_Success) return false;
    return reinterpret_cast<const USER_INFO_1*>(info.data)->usri1_priv == USER_PRIV_ADMIN;
  }
  std::string path_separator() override { return "\\"; }
  uint32_t last_error() override { return GetLastError(); }
  void set_last_error(uint32_t code) override { SetLastError(code); }
  std::string format_message(uint32_t code) override { return windows::format_message(code); }

 private:
  static void CALLBACK run_work(PTP_CALLBACK_INSTANCE, void* context) {
    const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(context));
    (*work)();
  }
};

}  // namespace

System* system() {
  static WindowsSystem instance;
  return &instance;
}

}  // namespace pellora::platform::windows
