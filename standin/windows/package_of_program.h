#pragma once
// The stand-in store's rule for which package a Windows process runs from, for the test-only
// variants that answer what Wine cannot: a process runs from a package when its program lies in
// a folder <name> of <root>\packages and the file <root>\registrations\<name> exists.

#include <windows.h>

#include <cwchar>
#include <string>

namespace standin::windows {

struct ProgramPackage {
  std::wstring root;       // the store's root, without a trailing backslash
  std::wstring full_name;  // empty: the program runs from no package
};

inline ProgramPackage package_of_program() {
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
    ProgramPackage found{program.substr(0, folder),
                         program.substr(folder + 10, name_end - folder - 10)};
    const DWORD attributes =
        GetFileAttributesW((found.root + L"\\registrations\\" + found.full_name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return found;
    }
  }
  return {};
}

}  // namespace standin::windows
