// The process's entry point on Windows: the set-up every run needs before the shared entry
// (libraries from the system folder only, COM, GDI+, the common controls), then the command
// line after the program name, in UTF-8.

#include "installer/platform/windows/windows_common.h"
// The include order matters: GDI+ needs the COM declarations first.
#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <commctrl.h>
#include <gdiplus.h>

#include <string>

#include "installer/platform/backend.h"
#include "installer/platform/windows/command_line_windows.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using pellora::platform::windows::text_after_program_name;
  using pellora::platform::windows::to_utf8;

  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;

  Gdiplus::GdiplusStartupInput gdiplus_input;
  ULONG_PTR gdiplus_token = 0;
  Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);

  const int exit_code =
      pellora::installer_main(to_utf8(text_after_program_name(GetCommandLineW())));
  Gdiplus::GdiplusShutdown(gdiplus_token);
  return exit_code;
}
