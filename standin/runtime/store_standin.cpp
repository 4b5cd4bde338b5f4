// The stand-in Runtime's deployments for real: the stand-in store's own code does them in the
// Linux program standin-deploy (Wine starts it from its Z:\ path but cannot hand back its exit
// code, so request, progress and result travel through files), on the store under store\ of the
// DLL's folder. What only Windows can see is done here: the launch URI schemes in
// HKEY_CLASSES_ROOT (Wine reads no per-user classes) and the end of the Windows processes that
// run from a package the deployment took away (the store's own scan sees only Linux processes).

#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "common/windows/wide_text.h"
#include "standin/runtime/standin_runtime.h"

namespace standin::runtime {
namespace {

using pellora::platform::windows::to_utf16;
using pellora::platform::windows::to_utf8;

std::string read_file(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return bytes;
  char buffer[4096];
  for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    bytes.append(buffer, read);
  }
  std::fclose(file);
  return bytes;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

bool starts_with_ignoring_case(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// Wine's own export: the Linux path of a Windows one.
std::string unix_path(const std::wstring& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* converted = convert != nullptr ? convert(path.c_str()) : nullptr;
  if (converted == nullptr) return {};
  std::string text(converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return text;
}

StoreOutcome failure(const std::wstring& text) {
  return StoreOutcome{AsyncStatus::error, E_FAIL, E_FAIL, false, L"error 0x80004005: " + text};
}

// The package's folder is taken away; its programs go with it, as ForceTargetAppShutdown and a
// removal end them on Windows.
void end_processes_running_from(const std::wstring& folder) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                    entry.th32ProcessID);
    if (process == nullptr) continue;
    wchar_t image[MAX_PATH * 4] = L"";
    DWORD length = MAX_PATH * 4;
    if (QueryFullProcessImageNameW(process, 0, image, &length) &&
        starts_with_ignoring_case(std::wstring(image, length), folder)) {
      record(L"ended " + std::wstring(image, length));
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 10000);
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
}

// The scheme's handler as the package registered it, or none when `full_name` is empty.
void register_scheme(const std::wstring& scheme, const std::wstring& full_name,
                     std::wstring executable) {
  if (full_name.empty()) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme.c_str());
    record(L"scheme " + scheme + L" removed");
    return;
  }
  for (wchar_t& c : executable) {
    if (c == L'/') c = L'\\';
  }
  const std::wstring command =
      L"\"" + store_folder() + L"packages\\" + full_name + L"\\" + executable + L"\" %*";
  auto set = [](HKEY key, const wchar_t* name, const std::wstring& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  };
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, scheme.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  set(key, nullptr, L"URL:" + scheme);
  set(key, L"URL Protocol", L"");
  HKEY open = nullptr;
  if (RegCreateKeyExW(key, L"shell\\open\\command", 0, nullptr, 0, KEY_WRITE, nullptr, &open,
                      nullptr) == ERROR_SUCCESS) {
    set(open, nullptr, command);
    RegCloseKey(open);
  }
  RegCloseKey(key);
  record(L"scheme " + scheme + L" " + command);
}

// Points the schemes of the store's protocols folder whose handler changed since `known` at their
// new handlers (`apply`; else only notes them). Run while a deployment goes on: the store writes
// a scheme's new handler before it takes the old package away, so a start in between finds the
// new one.
void follow_new_handlers(std::map<std::wstring, std::string>& known, bool apply) {
  const std::wstring folder = store_folder() + L"protocols\\";
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring scheme = entry.cFileName;
    if (scheme[0] == L'.' || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        scheme.find(L".tmp") != std::wstring::npos) {
      continue;
    }
    const std::string handler = read_file(folder + scheme);
    const size_t end = handler.find('\n');
    const size_t second = handler.find('\n', end + 1);
    if (end == std::string::npos || second == std::string::npos) continue;
    const auto previous = known.find(scheme);
    if (previous != known.end() && previous->second == handler) continue;
    known[scheme] = handler;
    if (apply)
      register_scheme(scheme, to_utf16(handler.substr(0, end)),
                      to_utf16(handler.substr(end + 1, second - end - 1)));
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

std::wstring next_call_folder() {
  static LONG calls = 0;
  const std::wstring calls_folder = own_folder() + L"calls\\";
  CreateDirectoryW(calls_folder.c_str(), nullptr);
  const std::wstring folder = calls_folder + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(InterlockedIncrement(&calls));
  return CreateDirectoryW(folder.c_str(), nullptr) ? folder + L"\\" : std::wstring();
}

// Passes on the progress lines not yet passed on; `passed` counts them.
void pass_progress(const std::wstring& file, size_t& passed,
                   const std::function<void(const DeploymentProgress&)>& progress) {
  std::istringstream lines(read_file(file));
  size_t index = 0;
  for (std::string line; std::getline(lines, line) && !lines.eof(); ++index) {
    if (index < passed) continue;
    int state = 0;
    unsigned percentage = 0;
    if (std::sscanf(line.c_str(), "%d %u", &state, &percentage) == 2 && state < 2) {
      progress({static_cast<DeploymentProgressState>(state), percentage});
    }
    passed = index + 1;
  }
}

StoreOutcome read_outcome(const std::string& result) {
  StoreOutcome outcome{AsyncStatus::error, E_FAIL, E_FAIL, false, L""};
  std::istringstream lines(result);
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "status") {
      outcome.status = static_cast<AsyncStatus>(std::stoi(value));
    } else if (key == "error") {
      outcome.error = static_cast<HRESULT>(std::stoul(value));
    } else if (key == "code") {
      outcome.code = static_cast<HRESULT>(std::stol(value));
    } else if (key == "registered") {
      outcome.registered = value == "1";
    } else if (key == "removed") {
      end_processes_running_from(store_folder() + L"packages\\" + to_utf16(value) + L"\\");
    } else if (key == "scheme") {
      const size_t first = value.find('\t');
      const size_t second = value.find('\t', first + 1);
      if (second == std::string::npos) continue;
      register_scheme(to_utf16(value.substr(0, first)),
                      to_utf16(value.substr(first + 1, second - first - 1)),
                      to_utf16(value.substr(second + 1)));
    } else if (key == "text") {
      outcome.text = to_utf16(value);
    }
  }
  return outcome;
}

}  // namespace

std::wstring store_folder() { return own_folder() + L"store\\"; }

StoreOutcome store_deployment(bool adds, const std::wstring& target,
                              const std::function<void(const DeploymentProgress&)>& progress,
                              const std::function<bool()>& cancelled) {
  CreateDirectoryW(store_folder().c_str(), nullptr);
  const std::wstring call = next_call_folder();
  const std::string root = unix_path(store_folder());
  if (call.empty() || root.empty()) return failure(L"the stand-in's store cannot be reached");
  const std::string request =
      "root=" + root + "\n" + (adds ? "add=" : "remove=") + to_utf8(target) + "\n";
  if (!write_file(call + L"request", request)) return failure(L"no request could be written");

  const std::wstring helper = own_folder() + L"standin-deploy";
  std::wstring command_line = L"standin-deploy \"" + to_utf16(unix_path(call)) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(helper.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &started)) {
    return failure(L"standin-deploy could not be started (" + std::to_wstring(GetLastError()) +
                   L")");
  }
  CloseHandle(started.hThread);
  // The handle of a Linux process is not a reliable sign of its end under Wine: the result file
  // is. A helper gone without one is given some time before it counts as failed.
  const std::wstring result = call + L"result";
  size_t passed = 0;
  bool cancel_sent = false;
  ULONGLONG gone_since = 0;
  std::map<std::wstring, std::string> handlers;
  follow_new_handlers(handlers, false);
  for (;;) {
    const bool gone = WaitForSingleObject(started.hProcess, 20) == WAIT_OBJECT_0;
    pass_progress(call + L"progress", passed, progress);
    if (adds) follow_new_handlers(handlers, true);
    if (!cancel_sent && cancelled()) {
      cancel_sent = write_file(call + L"cancel", "");
    }
    if (GetFileAttributesW(result.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    if (gone && gone_since == 0) gone_since = GetTickCount64();
    if (gone_since != 0 && GetTickCount64() - gone_since > 30000) {
      CloseHandle(started.hProcess);
      return failure(L"standin-deploy ended without a result in " + call);
    }
  }
  CloseHandle(started.hProcess);
  pass_progress(call + L"progress", passed, progress);
  return read_outcome(read_file(result));
}

std::optional<StorePackage> current_process_package() {
  wchar_t path[MAX_PATH * 4] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  const std::wstring image(path, length);
  const std::wstring packages = store_folder() + L"packages\\";
  if (!starts_with_ignoring_case(image, packages)) return std::nullopt;
  const size_t end = image.find(L'\\', packages.size());
  if (end == std::wstring::npos) return std::nullopt;
  StorePackage package;
  package.full_name = image.substr(packages.size(), end - packages.size());
  package.folder = image.substr(0, end);
  const std::string registration =
      read_file(store_folder() + L"registrations\\" + package.full_name);
  std::istringstream lines(registration);
  bool found = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("FullName=", 0) == 0) found = to_utf16(line.substr(9)) == package.full_name;
    if (line.rfind("Name=", 0) == 0) package.name = to_utf16(line.substr(5));
    if (line.rfind("FamilyName=", 0) == 0) package.family_name = to_utf16(line.substr(11));
    if (line.rfind("Version=", 0) == 0) {
      unsigned parts[4] = {};
      std::sscanf(line.c_str() + 8, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
      package.version = {static_cast<UINT16>(parts[0]), static_cast<UINT16>(parts[1]),
                         static_cast<UINT16>(parts[2]), static_cast<UINT16>(parts[3])};
    }
  }
  if (!found) return std::nullopt;
  return package;
}

}  // namespace standin::runtime
