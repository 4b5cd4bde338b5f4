#include <windows.h>
// The shell's and COM's declarations follow windows.h.
#include <objbase.h>
#include <shlobj.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "common/windows/wide_text.h"
#include "launcher/platform/platform.h"

namespace launcher::platform {
namespace {

using pellora::platform::windows::to_utf16;
using pellora::platform::windows::to_utf8;

// The known-folder ids and lookup flags, as the shell defines them.
constexpr GUID local_app_data_id = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
constexpr GUID roaming_app_data_id = {
    0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};
constexpr DWORD return_filter_redirection_target = 0x40000;  // KF_FLAG_RETURN_FILTER_...
constexpr DWORD no_package_redirection = 0x10000;            // KF_FLAG_NO_PACKAGE_REDIRECTION

// The path the shell hands back, freed with CoTaskMemFree on every outcome.
struct ShellPath {
  wchar_t* text = nullptr;
  ~ShellPath() { CoTaskMemFree(text); }
};

class WindowsPlatform final : public Platform {
 public:
  KnownFolderPath known_folder_path(KnownFolder folder, KnownFolderMode mode) override {
    const GUID& id =
        folder == KnownFolder::local_app_data ? local_app_data_id : roaming_app_data_id;
    const DWORD flags = mode == KnownFolderMode::redirected ? return_filter_redirection_target
                                                            : no_package_redirection;
    ShellPath path;
    const HRESULT result = SHGetKnownFolderPath(id, flags, nullptr, &path.text);
    if (FAILED(result)) return {static_cast<uint32_t>(result), {}};
    return {0, to_utf8(path.text)};
  }

  std::optional<std::string> get_variable(const std::string& name) override {
    const wchar_t* value = _wgetenv(to_utf16(name).c_str());
    if (value == nullptr) return std::nullopt;
    return to_utf8(value);
  }

  void set_variable(const std::string& name, const std::string& value) override {
    _wputenv_s(to_utf16(name).c_str(), to_utf16(value).c_str());
  }

  // An empty value removes the variable.
  void remove_variable(const std::string& name) override {
    _wputenv_s(to_utf16(name).c_str(), L"");
  }

  void debug_output(std::string_view text) override { OutputDebugStringW(to_utf16(text).c_str()); }

  // Wide, so that a path or an exception text outside the ANSI code page reads as written.
  void message_box(std::string_view text, std::string_view caption) override {
    MessageBoxW(nullptr, to_utf16(text).c_str(), to_utf16(caption).c_str(),
                MB_SYSTEMMODAL | MB_ICONERROR);
  }
};

DWORD WINAPI thread_start(void* body) {
  reinterpret_cast<void (*)()>(body)();
  return 0;
}

}  // namespace

Platform& system_platform() {
  static WindowsPlatform instance;
  return instance;
}

void write_standard_error(std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

void exit_process(int code) { std::exit(code); }

std::string executable_path() { return pellora::platform::windows::own_program_path(); }

char path_separator() { return '\\'; }

void set_up_utf8_console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode)) {
    SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

bool run_on_new_thread(uint32_t stack_size, void (*body)()) {
  HANDLE thread = CreateThread(nullptr, stack_size, thread_start, reinterpret_cast<void*>(body),
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) return false;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return true;
}

}  // namespace launcher::platform
