// Stands for a program that the installer starts through the shell (the launch URI's handler,
// Windows PowerShell, the application of the test packages) and records how it was started:
// appends its command line, UTF-8, as one line to the file of its own path with ".txt" added,
// and exits with 0. With TREVALON_TEST_RECORD set it appends to that file instead (unless it is
// PowerShell), and adds the three data-folder variables it inherited, each after a tab. Copied as
// powershell.exe it also does what the installer asks of PowerShell: the certificate named by
// Import-Certificate's -FilePath goes into the trust folder of the stand-in store
// (C:\trevalon-standin\store\trust).

#include <windows.h>

#include <cstdio>
#include <string>

#include "common/windows/wide_text.h"

namespace {

// PowerShell takes the apostrophe and U+2018 to U+201B alike as single quotes.
bool is_single_quote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }

// The single-quoted literal after -FilePath, a doubled quote being one; empty when there is none.
std::wstring certificate_path(const std::wstring& command) {
  const size_t option = command.find(L"-FilePath ");
  if (option == std::wstring::npos || option + 10 >= command.size()) return {};
  size_t at = option + 10;
  if (!is_single_quote(command[at])) return {};
  std::wstring path;
  for (++at; at < command.size(); ++at) {
    if (!is_single_quote(command[at])) {
      path += command[at];
    } else if (at + 1 < command.size() && is_single_quote(command[at + 1])) {
      path += command[++at];
    } else {
      return path;
    }
  }
  return {};
}

void import_certificate(const std::wstring& command) {
  const std::wstring path = certificate_path(command);
  if (path.empty()) return;
  const std::wstring trust = L"C:\\trevalon-standin\\store\\trust";
  CreateDirectoryW(L"C:\\trevalon-standin\\store", nullptr);
  CreateDirectoryW(trust.c_str(), nullptr);
  CopyFileW(path.c_str(), (trust + path.substr(path.rfind(L'\\'))).c_str(), FALSE);
}

std::wstring variable(const wchar_t* name) {
  wchar_t value[4096] = L"";
  const DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length < 4096 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int main() {
  std::wstring line = GetCommandLineW();
  wchar_t own_path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  const std::wstring own = own_path;
  const bool powershell = CompareStringOrdinal(own.c_str() + own.rfind(L'\\') + 1, -1,
                                               L"powershell.exe", -1, TRUE) == CSTR_EQUAL;
  std::wstring record = variable(L"TREVALON_TEST_RECORD");
  if (powershell) import_certificate(line);
  if (powershell || record.empty()) {
    record = own + L".txt";
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
