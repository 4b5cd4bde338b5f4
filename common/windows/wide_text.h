#pragma once
// UTF-8 <-> UTF-16 at the edge of the Windows calls, and the program's own path. Header-only, so
// that both programs' Windows backends, the stand-in Runtime and the Windows test programs share
// it.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace pellora::platform::windows {

// Invalid sequences become U+FFFD, as MultiByteToWideChar and WideCharToMultiByte leave them.
inline std::wstring to_utf16(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), length);
  return text;
}

inline std::string to_utf8(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int size = static_cast<int>(utf16.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

// GetModuleFileNameW(null) in UTF-8, however long the path; empty (the last error set) on
// failure.
inline std::string own_program_path() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return to_utf8(std::wstring_view(buffer.data(), length));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace pellora::platform::windows
