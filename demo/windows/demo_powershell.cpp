// Windows PowerShell in the demo's Wine prefix: takes the installer's one elevated command,
// Import-Certificate into LocalMachine\TrustedPeople, and puts the certificate into the trust
// folder of the stand-in store, which then trusts packages of the certificate's subject. It
// appends what it did to the file of its own path with ".txt" added, and exits with 0 on success,
// 1 otherwise.

#include <windows.h>

#include <cstdio>
#include <string>

#include "common/windows/wide_text.h"
#include "tools/powershell/import_certificate.h"

namespace {

using pellora::platform::windows::to_utf16;
using pellora::platform::windows::to_utf8;

// Where the stand-in Runtime's set-up puts the store in every prefix.
constexpr const wchar_t* trust_folder = L"C:\\trevalon-standin\\store\\trust";

// The command line after the program's name, which Windows ends at the closing quote or at the
// first blank.
std::wstring parameters() {
  const std::wstring line = GetCommandLineW();
  size_t at = 0;
  if (!line.empty() && line[0] == L'"') {
    at = line.find(L'"', 1);
    at = at == std::wstring::npos ? line.size() : at + 1;
  } else {
    at = line.find_first_of(L" \t");
    if (at == std::wstring::npos) at = line.size();
  }
  while (at < line.size() && (line[at] == L' ' || line[at] == L'\t')) ++at;
  return line.substr(at);
}

int finish(const std::string& outcome, int code) {
  wchar_t own_path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, own_path, MAX_PATH);
  if (FILE* file = _wfopen((std::wstring(own_path) + L".txt").c_str(), L"ab")) {
    const std::string line = "powershell " + to_utf8(parameters()) + "\n  " + outcome + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
  return code;
}

}  // namespace

int main() {
  std::string error;
  const auto path = trevalon::powershell::parse_import_certificate(to_utf8(parameters()), error);
  if (!path) return finish(error, 1);
  const std::wstring source = to_utf16(*path);
  const size_t slash = source.find_last_of(L"\\/");
  const std::wstring target = std::wstring(trust_folder) + L"\\" +
                              (slash == std::wstring::npos ? source : source.substr(slash + 1));
  CreateDirectoryW(trust_folder, nullptr);
  if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
    return finish("Import-Certificate failed with error " + std::to_string(GetLastError()), 1);
  }
  return finish("imported into Cert:\\LocalMachine\\TrustedPeople (" + to_utf8(target) + ")", 0);
}
