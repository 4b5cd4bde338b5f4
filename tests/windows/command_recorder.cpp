// Stands for a program that the installer starts through the shell (the launch URI's handler,
// Windows PowerShell, the application of the test packages) and records how it was started:
// appends its command line, UTF-8, as one line to the file of its own path with ".txt" added,
// and exits with 0. With TREVALON_TEST_RECORD set it appends to that file instead, and adds the
// three data-folder variables it inherited, each after a tab.

#include <windows.h>

#include <cstdio>
#include <string>

#include "common/windows/wide_text.h"

namespace {

std::wstring variable(const wchar_t* name) {
  wchar_t value[4096] = L"";
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length < 4096 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int main() {
  std::wstring line = GetCommandLineW();
  std::wstring record = variable(L"TREVALON_TEST_RECORD");
  if (record.empty()) {
    wchar_t own_path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    record = std::wstring(own_path) + L".txt";
  } else {
    for (const wchar_t* name :
         {L"TREVALON_APPDATA_LOCAL_FOLDER", L"TREVALON_APPDATA_ROAMING_FOLDER",
          L"TREVALON_APPDATA_LOCAL_CACHE_FOLDER"}) {
      line += L"\t" + variable(name);
    }
  }
  const std::string text = pellora::platform::windows::to_utf8(line) + "\n";
  FILE* file = _wfopen(record.c_str(), L"ab");
  if (file == nullptr) return 1;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  return 0;
}
