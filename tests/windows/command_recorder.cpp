// Stands for a program that the installer starts through the shell (the launch URI's handler,
// Windows PowerShell) and records how it was started: appends its command line, UTF-8, as one
// line to the file of its own path with ".txt" added, and exits with 0.

#include <windows.h>

#include <cstdio>
#include <string>

#include "common/windows/wide_text.h"

int main() {
  wchar_t own_path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  const std::string line = pellora::platform::windows::to_utf8(GetCommandLineW()) + "\n";
  FILE* file = _wfopen((std::wstring(own_path) + L".txt").c_str(), L"ab");
  if (file == nullptr) return 1;
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
  return 0;
}
