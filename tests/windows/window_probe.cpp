// What the window test cannot see from Linux, asked of Wine from inside:
//   window-probe created    waits for the progress dialog; prints "visible" or "hidden"
//   window-probe shown      waits until it is visible; prints its client area and progress
//                           bar in screen pixels and its DPI:
//                           "client X Y WIDTH HEIGHT dpi N bar LEFT TOP RIGHT BOTTOM"
//   window-probe box        waits for the error box; prints its text
//   window-probe clipboard  prints the clipboard's Unicode text
//   window-probe hold       stays for a minute, keeping its Wine desktop (and the clipboard
//                           that desktop holds) alive between other programs
//   window-probe watch      waits for the progress dialog, whatever its title, then prints a
//                           line at each change until it closes (at most a minute):
//                           "visible|hidden BAR-POSITION cancel|no-cancel TITLE"
// Each wait gives up after 30 seconds with exit code 1.

#include <windows.h>
// These need windows.h first.
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
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

int watch() {
  HWND window = nullptr;
  for (int attempt = 0; attempt < 3000 && window == nullptr; ++attempt) {
    EnumWindows(find_progress_dialog, reinterpret_cast<LPARAM>(&window));
    if (window == nullptr) Sleep(10);
  }
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

int clipboard() {
  if (!OpenClipboard(nullptr)) return 1;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (text != nullptr) {
    std::fputs(to_utf8(text).c_str(), stdout);
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text != nullptr ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Coordinates in the screen's own pixels, whatever the DPI.
  SetProcessDPIAware();
  const std::string command = argc > 1 ? argv[1] : "";
  const wchar_t* const progress_title = L"Checking for updates, please wait";
  if (command == "created") {
    HWND window = wait_for(progress_title, false);
    if (window == nullptr) return 1;
    std::puts(IsWindowVisible(window) ? "visible" : "hidden");
    return 0;
  }
  if (command == "shown") {
    HWND window = wait_for(progress_title, true);
    if (window == nullptr) return 1;
    Sleep(500);  // time to paint
    RECT client;
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT bar;
    GetWindowRect(GetDlgItem(window, 1001), &bar);
    std::printf("client %ld %ld %ld %ld dpi %u bar %ld %ld %ld %ld\n", origin.x, origin.y,
                client.right, client.bottom, GetDpiForWindow(window), bar.left, bar.top, bar.right,
                bar.bottom);
    return 0;
  }
  if (command == "box") {
    HWND box = wait_for(L"Error", true);
    if (box == nullptr) return 1;
    wchar_t text[4096] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 4096);
    std::puts(to_utf8(text).c_str());
    return 0;
  }
  if (command == "clipboard") return clipboard();
  if (command == "watch") return watch();
  if (command == "hold") {
    Sleep(60000);
    return 0;
  }
  std::fputs("usage: window-probe created|shown|box|clipboard|hold|watch\n", stderr);
  return 2;
}
