// What the window test cannot see from Linux, asked of Wine from inside:
//   window-probe created    waits for the progress dialog; prints "visible" or "hidden"
//   window-probe shown      waits until it is visible; prints its client area and progress
//                           bar in screen pixels and its DPI:
//                           "client X Y WIDTH HEIGHT dpi N bar LEFT TOP RIGHT BOTTOM"
//   window-probe box        waits for the error box; prints its text
//   window-probe box-owner  waits for the error box; prints "owner none|visible|hidden" and
//                           "foreground" or "background"
//   window-probe dpi DPI    sends the shown progress dialog WM_DPICHANGED for DPI, with its
//                           rectangle's size scaled by DPI / 96, centred on the screen, as the
//                           suggestion; prints "suggested LEFT TOP RIGHT BOTTOM", then as
//                           "shown" does (with DPI)
//   window-probe clipboard  prints the clipboard's Unicode text
//   window-probe hold       stays for a minute, keeping its Wine desktop (and the clipboard
//                           that desktop holds) alive between other programs
//   window-probe hold-file PATH  opens the file, sharing it with no one, prints "held" and
//                           keeps it open for a minute
//   window-probe watch      waits for the progress dialog, whatever its title, then prints a
//                           line at each change until it closes (at most a minute):
//                           "visible|hidden BAR-POSITION cancel|no-cancel TITLE"
// Each wait gives up after 30 seconds with exit code 1. Every command first writes "ready" to
// standard error, so that a test starts the program it watches only once the probe runs.

#include <windows.h>
// These need windows.h first.
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/windows/wide_text.h"

namespace {

using pellora::platform::windows::to_utf16;
using pellora::platform::windows::to_utf8;

HWND wait_for(const wchar_t* title, bool visible) {
  for (int attempt = 0; attempt < 3000; ++attempt) {
    HWND window = FindWindowW(L"#32770", title);
    if (window != nullptr && (!visible || IsWindowVisible(window))) return window;
    Sleep(10);
  }
  return nullptr;
}

// The progress dialog is the one dialog with a progress bar.
BOOL CALLBACK find_progress_dialog(HWND window, LPARAM found) {
  wchar_t class_name[16] = L"";
  GetClassNameW(window, class_name, 16);
  if (std::wstring(class_name) != L"#32770" || GetDlgItem(window, 1001) == nullptr) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The progress dialog, whatever its title, once it exists (and, with `visible`, shows).
HWND wait_for_progress_dialog(bool visible) {
  for (int attempt = 0; attempt < 3000; ++attempt) {
    HWND window = nullptr;
    EnumWindows(find_progress_dialog, reinterpret_cast<LPARAM>(&window));
    if (window != nullptr && (!visible || IsWindowVisible(window))) return window;
    Sleep(10);
  }
  return nullptr;
}

int watch() {
  HWND window = wait_for_progress_dialog(false);
  if (window == nullptr) return 1;
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in "\n" alone, as the test reads them
  std::string last;
  for (int tick = 0; tick < 6000 && IsWindow(window); ++tick) {
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    const auto position = SendMessageW(GetDlgItem(window, 1001), PBM_GETPOS, 0, 0);
    const std::string line =
        std::string(IsWindowVisible(window) ? "visible " : "hidden ") + std::to_string(position) +
        (IsWindowEnabled(GetDlgItem(window, IDCANCEL)) ? " cancel " : " no-cancel ") +
        to_utf8(title);
    if (line != last) {
      std::fputs((line + "\n").c_str(), stdout);
      std::fflush(stdout);
      last = line;
    }
    Sleep(10);
  }
  return 0;
}

// Where the dialog and its controls are, in screen pixels.
void print_layout(HWND window, unsigned dpi) {
  RECT client;
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  RECT bar;
  GetWindowRect(GetDlgItem(window, 1001), &bar);
  std::printf("client %ld %ld %ld %ld dpi %u bar %ld %ld %ld %ld\n", origin.x, origin.y,
              client.right, client.bottom, dpi, bar.left, bar.top, bar.right, bar.bottom);
}

// The message's rectangle must be readable in the dialog's process: it is written there.
int change_dpi(HWND window, unsigned dpi) {
  // As on a monitor of its own: the scaled size, centred on the screen.
  RECT now;
  GetWindowRect(window, &now);
  const int width = MulDiv(now.right - now.left, static_cast<int>(dpi), 96);
  const int height = MulDiv(now.bottom - now.top, static_cast<int>(dpi), 96);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  const RECT suggested{left < 0 ? 0 : left, top < 0 ? 0 : top, (left < 0 ? 0 : left) + width,
                       (top < 0 ? 0 : top) + height};
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process_id);
  if (process == nullptr) return 1;
  void* remote =
      VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote == nullptr ||
      !WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr)) {
    return 1;
  }
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  std::printf("suggested %ld %ld %ld %ld\n", suggested.left, suggested.top, suggested.right,
              suggested.bottom);
  print_layout(window, dpi);
  return 0;
}

// Another process (Wine's clipboard manager among them) may hold the clipboard open for a
// moment: tried again for up to three seconds.
int clipboard() {
  for (int attempt = 0; attempt < 300; ++attempt, Sleep(10)) {
    if (!OpenClipboard(nullptr)) continue;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (text != nullptr) {
      std::fputs(to_utf8(text).c_str(), stdout);
      GlobalUnlock(data);
    }
    CloseClipboard();
    if (text != nullptr) return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Coordinates in the screen's own pixels, whatever the DPI.
  SetProcessDPIAware();
  std::fputs("ready\n", stderr);
  std::fflush(stderr);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "created") {
    HWND window = wait_for_progress_dialog(false);
    if (window == nullptr) return 1;
    std::puts(IsWindowVisible(window) ? "visible" : "hidden");
    return 0;
  }
  if (command == "shown") {
    HWND window = wait_for_progress_dialog(true);
    if (window == nullptr) return 1;
    print_layout(window, GetDpiForWindow(window));
    return 0;
  }
  if (command == "dpi" && argc > 2) {
    HWND window = wait_for_progress_dialog(true);
    if (window == nullptr) return 1;
    return change_dpi(window, static_cast<unsigned>(std::atoi(argv[2])));
  }
  if (command == "box" || command == "box-owner") {
    HWND box = wait_for(L"Error", true);
    if (box == nullptr) return 1;
    if (command == "box-owner") {
      HWND owner = GetWindow(box, GW_OWNER);
      std::printf("owner %s %s\n",
                  owner == nullptr ? "none" : (IsWindowVisible(owner) ? "visible" : "hidden"),
                  GetForegroundWindow() == box ? "foreground" : "background");
      return 0;
    }
    wchar_t text[4096] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 4096);
    std::puts(to_utf8(text).c_str());
    return 0;
  }
  if (command == "clipboard") return clipboard();
  if (command == "watch") return watch();
  if (command == "hold-file" && argc > 2) {
    const HANDLE file = CreateFileW(to_utf16(argv[2]).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::puts("held");
    std::fflush(stdout);
    Sleep(60000);
    return 0;
  }
  if (command == "hold") {
    Sleep(60000);
    return 0;
  }
  std::fputs(
      "usage: window-probe created|shown|dpi DPI|box|box-owner|clipboard|hold|hold-file PATH|"
      "watch\n",
      stderr);
  return 2;
}
