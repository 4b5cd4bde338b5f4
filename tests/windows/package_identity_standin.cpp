// Linked into the test-only identity variant of pellora.exe in place of kernel32's import:
// Wine's GetCurrentPackageFullName never finds a package, so this one answers by the stand-in
// store's rule (standin/windows/package_of_program.h).

#include <windows.h>

#include <cwchar>
#include <string>

#include "standin/windows/package_of_program.h"

namespace {

constexpr LONG no_package = 15700;  // APPMODEL_ERROR_NO_PACKAGE

LONG WINAPI standin_current_package_full_name(UINT32* length, PWSTR name) {
  if (length == nullptr) return ERROR_INVALID_PARAMETER;
  const std::wstring full_name = standin::windows::package_of_program().full_name;
  if (full_name.empty()) return no_package;
  const auto needed = static_cast<UINT32>(full_name.size() + 1);
  if (name == nullptr || *length < needed) {
    *length = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::wmemcpy(name, full_name.c_str(), needed);
  *length = needed;
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {
LONG(WINAPI* __imp_GetCurrentPackageFullName)(UINT32*, PWSTR) = standin_current_package_full_name;
}
