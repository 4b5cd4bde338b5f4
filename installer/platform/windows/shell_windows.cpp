// ShellExecute through ShellExecuteExW: the same launch, with the shell's error dialogs turned
// off (the core reports failures itself) and the call finished before it returns, since the
// worker thread that makes it may end soon after.

#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
#include <shellapi.h>

#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

struct Launch {
  intptr_t result;
  DWORD error;
};

// The shell's owner for what it shows: the progress window while it is shown. A prompt owned
// by a hidden window may open behind other windows.
HWND visible_owner() {
  HWND window = main_window();
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// ShellExecuteExW within COM's scope; its last error is taken at once, before leaving the scope
// (CoUninitialize) can change it.
Launch launch(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
              int show_command) {
  const ComScope com;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = visible_owner();
  info.lpVerb = verb.c_str();
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = show_command;
  const BOOL started = ShellExecuteExW(&info);
  const DWORD error = GetLastError();
  const intptr_t result = reinterpret_cast<intptr_t>(info.hInstApp);
  if (started && result > 32) return {result, ERROR_SUCCESS};
  return {result > 32 ? SE_ERR_FNF : result, error != 0 ? error : ERROR_FILE_NOT_FOUND};
}

class WindowsShell final : public Shell {
 public:
  intptr_t shell_execute(const std::string& verb, const std::string& file,
                         const std::string& parameters, int show_command) override {
    const Launch done = launch(to_utf16(verb), to_utf16(file), to_utf16(parameters), show_command);
    // ShellExecuteW's contract: 32 or less on failure, with the reason in the last error.
    if (done.result <= 32) SetLastError(done.error);
    return done.result;
  }
};

}  // namespace

Shell* shell() {
  static WindowsShell instance;
  return &instance;
}

}  // namespace pellora::platform::windows
