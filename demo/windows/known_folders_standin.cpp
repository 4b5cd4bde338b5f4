// Linked into the demo's variant of launcher.exe in place of shell32's function and its import:
// Wine knows neither the package-redirection nor the no-redirection lookup of a known folder and
// refuses both, so this one answers them by the stand-in store's rule, as Windows does for a
// packaged process. A process runs from a package when its program lies in a folder <name> of
// <root>\packages and the file <root>\registrations\<name> exists; the redirected local and roaming
// folders are then <root>\data\<family>\LocalCache\Local and ...\Roaming, the family being the
// registration's FamilyName. Outside a package the redirected lookup finds nothing (0x80070002).
// The user's own folders, and every other lookup, come from shell32.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

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

// The store's root and the package's full name when the program runs from a package folder.
bool package_of_program(std::wstring& root, std::wstring& name) {
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
    root = program.substr(0, folder);
    name = program.substr(folder + 10, name_end - folder - 10);
    const DWORD attributes = GetFileAttributesW((root + L"\\registrations\\" + name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return true;
    }
  }
  return false;
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
    std::wstring root;
    std::wstring name;
    if (!package_of_program(root, name)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    const std::wstring family = family_of(root, name);
    if (family.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::wstring folder = root + L"\\data\\" + family + L"\\LocalCache\\";
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
