#include "installer/platform/windows/windows_common.h"

#include <objbase.h>

#include "installer/platform/backend.h"

namespace pellora::platform::windows {

std::wstring to_win32_path(std::string_view utf8_path, bool long_form) {
  // A folder's path leaves room for an 8.3 file name in it.
  constexpr size_t create_directory_limit = MAX_PATH - 12;
  std::wstring path = to_utf16(utf8_path);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (!long_form && path.size() < create_directory_limit) return path;
  // The prefix turns off the system's own clean-up of the path, so it is done here first.
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (written == 0 || written >= length) return path;
  full.resize(written);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string message_text(uint32_t code) {
  std::string text = format_message(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

PlatformError error_from_win32(uint32_t code) {
  return PlatformError(hresult_from_win32(code), message_text(code));
}

void raise_last_error() { throw error_from_win32(GetLastError()); }

ComScope::ComScope() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  initialized_ = SUCCEEDED(result);
}

ComScope::~ComScope() {
  if (initialized_) CoUninitialize();
}

}  // namespace pellora::platform::windows
