// The Win32 clipboard, as Unicode text. Data handed to SetClipboardData belongs to the system,
// so the text stays on the clipboard after the process has ended (what Flush gives the
// Runtime's clipboard).

#include <cstring>

#include "installer/platform/windows/services_windows.h"
#include "installer/platform/windows/windows_common.h"

namespace pellora::platform::windows {
namespace {

class OpenedClipboard {
 public:
  OpenedClipboard() {
    // Opened for the window (the error box's text is copied on its thread): a clipboard opened
    // without one may not take the data after EmptyClipboard. Another program may hold the
    // clipboard for a moment.
    for (int attempt = 0; attempt < 20 && !open_; ++attempt) {
      open_ = OpenClipboard(main_window()) != FALSE;
      if (!open_) Sleep(10);
    }
  }
  ~OpenedClipboard() {
    if (open_) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  explicit operator bool() const { return open_; }

 private:
  bool open_ = false;
};

// Global memory that is freed unless the clipboard took it over.
class GlobalMemory {
 public:
  explicit GlobalMemory(size_t bytes) : memory_(GlobalAlloc(GMEM_MOVEABLE, bytes)) {}
  ~GlobalMemory() {
    if (memory_ != nullptr) GlobalFree(memory_);
  }
  GlobalMemory(const GlobalMemory&) = delete;
  GlobalMemory& operator=(const GlobalMemory&) = delete;
  HGLOBAL get() const { return memory_; }
  void release() { memory_ = nullptr; }

 private:
  HGLOBAL memory_;
};

class WindowsClipboard final : public Clipboard {
 public:
  void set_text_and_flush(const std::string& text) override {
    const std::wstring wide = to_utf16(text);
    const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    GlobalMemory memory(bytes);
    if (memory.get() == nullptr) raise_last_error();
    void* target = GlobalLock(memory.get());
    if (target == nullptr) raise_last_error();
    std::memcpy(target, wide.c_str(), bytes);
    GlobalUnlock(memory.get());

    OpenedClipboard clipboard;
    if (!clipboard) raise_last_error();
    if (!EmptyClipboard()) raise_last_error();
    if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) raise_last_error();
    memory.release();
  }
};

}  // namespace

Clipboard* clipboard() {
  static WindowsClipboard instance;
  return &instance;
}

}  // namespace pellora::platform::windows
