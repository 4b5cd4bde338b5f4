#pragma once
// What the Windows backend's files share: UTF-8 <-> UTF-16 at the edge of every call (from
// wide_text.h), paths in the form Win32 takes, owned handles, and the platform error from a Win32
// error. Only this folder includes it.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/error.h"
#include "common/windows/wide_text.h"

namespace pellora::platform::windows {

// A path for the Win32 file calls: separators made "\", and a path too long for MAX_PATH made
// absolute and given the "\\?\" prefix, which lifts the limit.
std::wstring to_win32_path(std::string_view utf8_path);

// FormatMessageW's text for a Win32 error or HRESULT, in UTF-8; empty when the system has none.
std::string format_message(uint32_t code);
// The same without the line end the system appends.
std::string message_text(uint32_t code);

// PlatformError(HRESULT_FROM_WIN32(code), the system's text for it).
PlatformError error_from_win32(uint32_t code);
[[noreturn]] void raise_last_error();

// The progress window, owner of shell launches and message boxes; null before it exists.
HWND main_window();

// A kernel handle closed with CloseHandle; INVALID_HANDLE_VALUE and null both mean none.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle = nullptr) {
    if (*this) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// COM on the calling thread for one scope (the shell's calls want it on every thread that makes
// them); a thread that already has an apartment keeps it.
class ComScope {
 public:
  ComScope();
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialized_ = false;
};

}  // namespace pellora::platform::windows
