// ShellExecute through ShellExecuteExW: the same launch, with the shell's error dialogs turned
// off (the core reports failures itself) and the call finished before it returns, since the
// worker thread that makes it may end soon after.

#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
#include <shellapi.h>

#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

class WindowsShell final : public Shell {
 public:
  intptr_t shell_execute(const std::string& verb, const std::string& file,
                         const std::string& parameters, int show_command) override {
    const ComScope com;
    const std::wstring wide_verb = to_utf16(verb);
    const std::wstring wide_file = to_utf16(file);
    const std::wstring wide_parameters = to_utf16(parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = main_window();
    info.lpVerb = wide_verb.c_str();
    info.lpFile = wide_file.c_str();
    info.lpParameters = wide_parameters.empty() ? nullptr : wide_parameters.c_str();
    info.nShow = show_command;
    const BOOL started = ShellExecuteExW(&info);
    const DWORD error = GetLastError();
    const intptr_t result = reinterpret_cast<intptr_t>(info.hInstApp);
    if (started && result > 32) return result;
    // ShellExecuteW's contract: 32 or less on failure, with the reason in the last error.
    SetLastError(error != 0 ? error : ERROR_FILE_NOT_FOUND);
    return result > 32 ? SE_ERR_FNF : result;
  }
};

}  // namespace

Shell* shell() {
  static WindowsShell instance;
  return &instance;
}

}  // namespace pellora::platform::windows
