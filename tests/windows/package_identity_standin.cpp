// Linked into the test-only identity variant of pellora.exe in place of kernel32's import:
// Wine's GetCurrentPackageFullName never finds a package, so this one answers by the stand-in
// store's rule. A process runs from a package when its program lies in a folder <name> of
// <root>\packages and <root>\registrations\<name> exists; its full name is then <name>.

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr LONG no_package = 15700;  // APPMODEL_ERROR_NO_PACKAGE

std::wstring package_of_program() {
  wchar_t path[MAX_PATH * 4] = L"";
  const std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
  // Each "\packages\" of the path, nearest the program first.
  for (size_t at = program.rfind(L'\\'); at != std::wstring::npos && at > 0;
       at = program.rfind(L'\\', at - 1)) {
    const size_t folder = program.rfind(L'\\', at - 1);
    if (folder == std::wstring::npos) break;
    if (_wcsnicmp(program.c_str() + folder, L"\\packages\\", 10) != 0) continue;
    const size_t name_end = program.find(L'\\', folder + 10);
    if (name_end == std::wstring::npos) continue;  // a program right in the packages folder
    const std::wstring name = program.substr(folder + 10, name_end - folder - 10);
    const std::wstring registration = program.substr(0, folder) + L"\\registrations\\" + name;
    const DWORD attributes = GetFileAttributesW(registration.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return name;
    }
  }
  return {};
}

LONG WINAPI standin_current_package_full_name(UINT32* length, PWSTR name) {
  if (length == nullptr) return ERROR_INVALID_PARAMETER;
  const std::wstring full_name = package_of_program();
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
