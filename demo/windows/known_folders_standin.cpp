// Linked into the demo's variant of launcher.exe in place of shell32's function and its import:
// Wine knows neither the package-redirection nor the no-redirection lookup of a known folder and
// refuses both, so this one answers them by the stand-in store's rule, as Windows does for a
// packaged process (standin/windows/package_of_program.h). The redirected local and roaming
// folders of a package <name> of <root> are <root>\data\<family>\LocalCache\Local and
// ...\Roaming, the family being the registration's FamilyName. Outside a package the redirected
// lookup finds nothing (0x80070002). The user's own folders, and every other lookup, come from
// shell32.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "standin/windows/package_of_program.h"

namespace {

using Lookup = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);

constexpr DWORD redirection_target = 0x40000;  // KF_FLAG_RETURN_FILTER_REDIRECTION_TARGET
constexpr DWORD no_redirection = 0x10000;      // KF_FLAG_NO_PACKAGE_REDIRECTION

constexpr GUID local_app_data = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
constexpr GUID roaming_app_data = {
    0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};

Lookup shell_lookup() {
  HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (shell == nullptr) return nullptr;
  // Through void*: FARPROC's type is not the function's.
  return reinterpret_cast<Lookup>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")));
}

// The FamilyName line of the package's registration (ASCII, as the store writes it).
std::wstring family_of(const std::wstring& root, const std::wstring& name) {
  FILE* file = _wfopen((root + L"\\registrations\\" + name).c_str(), L"rb");
  if (file == nullptr) return {};
  char line[1024];
  std::wstring family;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, "FamilyName=", 11) != 0) continue;
    for (const char* c = line + 11; *c != '\0' && *c != '\r' && *c != '\n'; ++c) family += *c;
    break;
  }
  std::fclose(file);
  return family;
}

HRESULT copy_out(const std::wstring& text, PWSTR* path) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
  if (*path == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*path, text.c_str(), bytes);
  return S_OK;
}

HRESULT WINAPI standin_known_folder_path(const GUID& id, DWORD flags, HANDLE token, PWSTR* path) {
  static const Lookup shell = shell_lookup();
  if (path == nullptr) return E_INVALIDARG;
  *path = nullptr;
  const bool local = IsEqualGUID(id, local_app_data);
  const bool app_data = local || IsEqualGUID(id, roaming_app_data);
  if (app_data && flags == redirection_target) {
    const standin::windows::ProgramPackage package = standin::windows::package_of_program();
    if (package.full_name.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const std::wstring family = family_of(package.root, package.full_name);
    if (family.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::wstring folder = package.root + L"\\data\\" + family + L"\\LocalCache\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += local ? L"Local" : L"Roaming";
    CreateDirectoryW(folder.c_str(), nullptr);
    return copy_out(folder, path);
  }
  if (shell == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return shell(id, app_data && flags == no_redirection ? 0 : flags, token, path);
}

}  // namespace

// Both ways a caller may reach it: the function's own name and its import pointer. With both
// defined here, shell32's import library is never asked for either.
extern "C" {
HRESULT WINAPI SHGetKnownFolderPath(const GUID& id, DWORD flags, HANDLE token, PWSTR* path) {
  return standin_known_folder_path(id, flags, token, path);
}
Lookup __imp_SHGetKnownFolderPath = standin_known_folder_path;
}
