// File services on Win32: CreateDirectoryW, CopyFileW, MoveFileExW and SHFileOperationW as they
// are; the Windows.Storage calls of the interface become plain file calls that raise the same
// HRESULTs (HRESULT_FROM_WIN32 of the failing call's error).

#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "installer/platform/backend.h"
#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

constexpr FILEOP_FLAGS shell_operation_flags =
    FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

std::string joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

// SHFileOperationW takes lists of paths, each ended by a NUL and the list by a second one. It
// knows nothing of the "\\?\" prefix, so paths go to it as they are, with "\" separators.
std::wstring path_list(const std::string& path) {
  std::wstring list = to_utf16(path);
  for (wchar_t& c : list) {
    if (c == L'/') c = L'\\';
  }
  list.push_back(L'\0');
  return list;  // the string's own terminator is the second NUL
}

std::wstring full_path(const std::wstring& path) {
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  full.resize(written < length ? written : 0);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return full;
}

// Whether `inner` is `outer` or lies inside it (paths compared as the file system does,
// without regard to case).
bool same_or_inside(const std::wstring& inner, const std::wstring& outer) {
  if (inner.size() < outer.size()) return false;
  if (CompareStringOrdinal(inner.c_str(), static_cast<int>(outer.size()), outer.c_str(),
                           static_cast<int>(outer.size()), TRUE) != CSTR_EQUAL) {
    return false;
  }
  return inner.size() == outer.size() || inner[outer.size()] == L'\\';
}

// What SHFileOperationW answers for a copy it cannot make, where Windows versions (and Wine)
// differ: a missing source, or a destination inside the source. Nothing when the copy may go.
std::optional<int> refused_copy(const std::string& source, const std::string& destination) {
  std::wstring from = path_list(source);
  from.pop_back();
  const bool wild_card = from.size() >= 2 && from.compare(from.size() - 2, 2, L"\\*") == 0;
  if (wild_card) from.resize(from.size() - 2);
  if (GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return wild_card ? shell_operation::invalid_files : static_cast<int>(ERROR_FILE_NOT_FOUND);
  }
  std::wstring to = path_list(destination);
  to.pop_back();
  const std::wstring full_from = full_path(from);
  const std::wstring full_to = full_path(to);
  if (same_or_inside(full_to, full_from)) {
    return same_or_inside(full_from, full_to) ? shell_operation::same_file
                                              : shell_operation::dest_subtree;
  }
  return std::nullopt;
}

ShellFileOperationResult shell_operation(UINT operation, const std::string& source,
                                         const std::string* destination) {
  const ComScope com;
  const std::wstring from = path_list(source);
  const std::wstring to = destination ? path_list(*destination) : std::wstring();
  SHFILEOPSTRUCTW request{};
  request.hwnd = main_window();
  request.wFunc = operation;
  request.pFrom = from.c_str();
  request.pTo = destination ? to.c_str() : nullptr;
  request.fFlags = shell_operation_flags;
  const int result = SHFileOperationW(&request);
  return {result, request.fAnyOperationsAborted != FALSE};
}

Handle open_file(const std::string& path, DWORD access, DWORD creation) {
  return Handle(CreateFileW(to_win32_path(path).c_str(), access, FILE_SHARE_READ, nullptr, creation,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

void write_all(const Handle& file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file.get(), data, chunk, &written, nullptr)) raise_last_error();
    data += written;
    size -= written;
  }
}

void write_whole_file(const std::string& path, const char* data, size_t size) {
  Handle file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
  if (!file) raise_last_error();
  write_all(file, data, size);
  if (!CloseHandle(file.release())) raise_last_error();
}

// A unique name for a writer's file beside `target`: the process and a counter tell writers
// apart, and CREATE_NEW makes sure of it.
std::string pending_name(const std::string& target, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  return target + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
         "-" + std::to_string(attempt) + ".pending";
}

class WindowsPendingFile final : public PendingFile {
 public:
  WindowsPendingFile(std::string target, std::string temporary, Handle file)
      : target_(std::move(target)), temporary_(std::move(temporary)), file_(std::move(file)) {}
  ~WindowsPendingFile() override {
    if (committed_) return;
    file_.reset();
    DeleteFileW(to_win32_path(temporary_).c_str());
  }
  WindowsPendingFile(const WindowsPendingFile&) = delete;
  WindowsPendingFile& operator=(const WindowsPendingFile&) = delete;

  const std::string& target_path() const override { return target_; }

  void write(const uint8_t* data, size_t size) override {
    write_all(file_, reinterpret_cast<const char*>(data), size);
  }

  void commit() override {
    if (!CloseHandle(file_.release())) raise_last_error();
    if (!MoveFileExW(to_win32_path(temporary_).c_str(), to_win32_path(target_).c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
      raise_last_error();
    }
    committed_ = true;
  }

 private:
  std::string target_;
  std::string temporary_;
  Handle file_;
  bool committed_ = false;
};

class WindowsAppendableFile final : public AppendableFile {
 public:
  explicit WindowsAppendableFile(Handle file) : file_(std::move(file)) {}

  bool append(std::string_view text) override {
    DWORD written = 0;
    return WriteFile(file_.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) &&
           written == text.size();
  }

  uint64_t size() override {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file_.get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }

 private:
  Handle file_;
};

// Opened without sharing: no other process can open the file while this handle lives, and the
// system closes the handle when the process ends, however it ends.
class WindowsHeldFile final : public HeldFile {
 public:
  explicit WindowsHeldFile(Handle file) : file_(std::move(file)) {}

  std::string read() override {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) return {};
    std::string content;
    char buffer[4096];
    for (;;) {
      DWORD count = 0;
      if (!ReadFile(file_.get(), buffer, sizeof buffer, &count, nullptr)) return {};
      if (count == 0) return content;
      content.append(buffer, count);
    }
  }

  bool replace(std::string_view content) override {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get())) {
      return false;
    }
    DWORD written = 0;
    return WriteFile(file_.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                     nullptr) &&
           written == content.size();
  }

 private:
  Handle file_;
};

class WindowsFiles final : public Files {
 public:
  bool create_directory(const std::string& path) override {
    return CreateDirectoryW(to_win32_path(path).c_str(), nullptr) != FALSE;
  }

  // The folder lies in the user's own temporary folder, which Windows keeps from other users;
  // what is left to refuse is a folder that leads elsewhere.
  bool create_private_directory(const std::string& path, FolderRefusal& refusal) override {
    refusal = FolderRefusal::none;
    const std::wstring wide = to_win32_path(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      refusal = FolderRefusal::symbolic_link;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      refusal = FolderRefusal::not_a_folder;
    }
    return refusal == FolderRefusal::none;
  }

  bool copy_file(const std::string& source, const std::string& target,
                 bool fail_if_exists) override {
    return CopyFileW(to_win32_path(source).c_str(), to_win32_path(target).c_str(),
                     fail_if_exists) != FALSE;
  }

  ShellFileOperationResult shell_copy(const std::string& source,
                                      const std::string& destination) override {
    if (const auto refused = refused_copy(source, destination)) return {*refused, false};
    return shell_operation(FO_COPY, source, &destination);
  }

  ShellFileOperationResult shell_delete(const std::string& path) override {
    return shell_operation(FO_DELETE, path, nullptr);
  }

  std::string create_file_replace_existing(const std::string& folder,
                                           const std::string& name) override {
    ensure_folder_exists(folder);
    const std::string path = joined(folder, name);
    write_whole_file(path, nullptr, 0);
    return path;
  }

  std::unique_ptr<PendingFile> create_pending_file(const std::string& folder,
                                                   const std::string& name) override {
    ensure_folder_exists(folder);
    const std::string target = joined(folder, name);
    for (unsigned attempt = 0;; ++attempt) {
      std::string temporary = pending_name(target, attempt);
      Handle file = open_file(temporary, GENERIC_WRITE, CREATE_NEW);
      if (file) {
        return std::make_unique<WindowsPendingFile>(target, std::move(temporary), std::move(file));
      }
      if (GetLastError() != ERROR_FILE_EXISTS || attempt == 100) raise_last_error();
    }
  }

  std::unique_ptr<AppendableFile> open_for_append(const std::string& path) override {
    // Shared for deletion too, so that another process may rename the file under us (the log's
    // rotation).
    Handle file(CreateFileW(to_win32_path(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WindowsAppendableFile>(std::move(file));
  }

  bool list_folder(const std::string& path, std::vector<std::string>& names) override {
    names.clear();
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((to_win32_path(path) + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") names.push_back(to_utf8(name));
    } while (FindNextFileW(search, &entry));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
      SetLastError(error);
      return false;
    }
    return true;
  }

  std::unique_ptr<HeldFile> hold_file(const std::string& path) override {
    Handle file(CreateFileW(to_win32_path(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WindowsHeldFile>(std::move(file));
  }

  bool move_file_replacing(const std::string& from, const std::string& to) override {
    return MoveFileExW(to_win32_path(from).c_str(), to_win32_path(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != FALSE;
  }

  void write_file(const std::string& path, const std::vector<uint8_t>& bytes) override {
    write_whole_file(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

  void write_text(const std::string& path, const std::string& text) override {
    write_whole_file(path, text.data(), text.size());
  }

  std::string read_text(const std::string& path) override {
    Handle file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) raise_last_error();
    std::string text;
    char buffer[65536];
    for (;;) {
      DWORD count = 0;
      if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) raise_last_error();
      if (count == 0) break;
      text.append(buffer, count);
    }
    return text_without_byte_order_mark(std::move(text));
  }

  void ensure_folder_exists(const std::string& path) override {
    const DWORD attributes = GetFileAttributesW(to_win32_path(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) raise_last_error();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw error_from_win32(ERROR_DIRECTORY);
  }
};

}  // namespace

Files* files() {
  static WindowsFiles instance;
  return &instance;
}

}  // namespace pellora::platform::windows
