#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
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

// Whether the token (null: this thread's or process's own) holds the Administrators group
// enabled. A token that an administrator gets without elevation holds it for denying only.
bool has_administrators_enabled(HANDLE token) {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  const BOOL checked = CheckTokenMembership(token, administrators, &member);
  FreeSid(administrators);
  return checked && member;
}

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

  // From the token, which knows domain and cloud accounts and nested groups alike: an elevated
  // administrator's token holds the group; a user account control's split token does not, but
  // its linked token (the elevated half) does.
  bool current_user_is_admin() override {
    if (has_administrators_enabled(nullptr)) return true;
    HANDLE process_token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process_token)) return false;
    const Handle token(process_token);
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size) ||
        type != TokenElevationTypeLimited) {
      return false;
    }
    TOKEN_LINKED_TOKEN linked{};
    if (!GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
      return false;
    }
    const Handle elevated(linked.LinkedToken);
    return has_administrators_enabled(elevated.get());
  }

  std::string powershell_path() override {
    wchar_t folder[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
      if (length > MAX_PATH) SetLastError(ERROR_BUFFER_OVERFLOW);
      return {};
    }
    return to_utf8(std::wstring_view(folder, length)) + "\\WindowsPowerShell\\v1.0\\powershell.exe";
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
