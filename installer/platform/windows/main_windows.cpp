// The process's entry point on Windows: the set-up every run needs before the shared entry
// (libraries from the system folder only, COM, GDI+, the common controls), then the command
// line after the program name, in UTF-8.

#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "installer/platform/backend.h"
#include "installer/platform/windows/command_line_windows.h"
#include "installer/platform/windows/gdiplus_windows.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using pellora::platform::windows::gdiplus;
  using pellora::platform::windows::text_after_program_name;
  using pellora::platform::windows::to_utf8;

  // First of all: whatever the system's own libraries load from here on comes from the system
  // folder. The program imports no library at load time that Windows would look for beside it
  // (WinHTTP and GDI+ are loaded from the system folder when first used).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;

  Gdiplus::GdiplusStartupInput gdiplus_input;
  ULONG_PTR gdiplus_token = 0;
  const bool gdiplus_started =
      gdiplus().complete() &&
      gdiplus().GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr) == Gdiplus::Ok;

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);

  const int exit_code =
      pellora::installer_main(to_utf8(text_after_program_name(GetCommandLineW())));
  if (gdiplus_started) gdiplus().GdiplusShutdown(gdiplus_token);
  return exit_code;
}
