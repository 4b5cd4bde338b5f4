#pragma once
// GDI+ for the entry (start-up and shutdown) and the window (the banner), from the system folder
// only: the functions the backend calls, looked up once.

#include "installer/platform/windows/windows_common.h"
// GDI+'s headers want COM's declarations first, and min and max, which NOMINMAX takes away.
#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "installer/platform/windows/system_library.h"

namespace pellora::platform::windows {

#define PELLORA_GDIPLUS_FUNCTION(scope, name) \
  decltype(scope::name)* const name = library.function<decltype(scope::name)>(#name)
struct GdiplusApi {
  SystemLibrary library{L"gdiplus.dll"};
  PELLORA_GDIPLUS_FUNCTION(Gdiplus, GdiplusStartup);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus, GdiplusShutdown);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipCreateBitmapFromStream);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipBitmapSetResolution);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipDisposeImage);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipGetImageWidth);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipGetImageHeight);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipGetImageHorizontalResolution);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipCreateFromHDC);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipDrawImageRectI);
  PELLORA_GDIPLUS_FUNCTION(Gdiplus::DllExports, GdipDeleteGraphics);

  // Every function was found: GDI+ is usable. Without it there is no banner, nothing else.
  bool complete() const {
    return GdiplusStartup && GdiplusShutdown && GdipCreateBitmapFromStream &&
           GdipBitmapSetResolution && GdipDisposeImage && GdipGetImageWidth && GdipGetImageHeight &&
           GdipGetImageHorizontalResolution && GdipCreateFromHDC && GdipDrawImageRectI &&
           GdipDeleteGraphics;
  }
};
#undef PELLORA_GDIPLUS_FUNCTION

inline const GdiplusApi& gdiplus() {
  static const GdiplusApi api;
  return api;
}

}  // namespace pellora::platform::windows
