// File services on Win32: CreateDirectoryW, CopyFileW and MoveFileExW as they are; the shell's
// folder copy and delete, and the Windows.Storage calls of the interface, become plain file calls
// in the long path form that answer the same codes (HRESULT_FROM_WIN32 of the failing call's
// error for the storage calls).

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "installer/platform/backend.h"
#include "installer/platform/windows/services_windows.h"
#include "installer/platform/windows/windows_common.h"

namespace pellora::platform::windows {
namespace {

std::string joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

// A path with "\" separators and without trailing ones (a drive's root keeps its own).
std::wstring plain_path(const std::string& path) {
  std::wstring wide = to_utf16(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  while (wide.size() > 3 && wide.back() == L'\\') wide.pop_back();
  return wide;
}

// The "\\?\" form of a path, whatever its length: a data folder deep enough for its backup's
// path to pass MAX_PATH must copy and delete like any other.
std::wstring long_form(const std::wstring& path) { return to_win32_path(to_utf8(path), true); }

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

// What the shell's copy answers for one it cannot make: a missing source, or a destination
// inside the source. Nothing when the copy may go.
std::optional<int> refused_copy(const std::string& source, const std::string& destination) {
  std::wstring from = plain_path(source);
  const bool wild_card = from.size() >= 2 && from.compare(from.size() - 2, 2, L"\\*") == 0;
  if (wild_card) from.resize(from.size() - 2);
  if (GetFileAttributesW(long_form(from).c_str()) == INVALID_FILE_ATTRIBUTES) {
    return wild_card ? shell_operation::invalid_files : static_cast<int>(ERROR_FILE_NOT_FOUND);
  }
  const std::wstring full_from = full_path(from);
  const std::wstring full_to = full_path(plain_path(destination));
  if (same_or_inside(full_to, full_from)) {
    return same_or_inside(full_from, full_to) ? shell_operation::same_file
                                              : shell_operation::dest_subtree;
  }
  return std::nullopt;
}

// The entries of a folder (without "." and ".."), or the error that stopped the listing.
struct Listing {
  std::vector<WIN32_FIND_DATAW> entries;
  DWORD error = ERROR_SUCCESS;
};

Listing list_folder(const std::wstring& folder) {
  Listing listing;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    listing.error = GetLastError();
    return listing;
  }
  do {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") listing.entries.push_back(entry);
  } while (FindNextFileW(find, &entry));
  const DWORD error = GetLastError();
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) listing.error = error;
  return listing;
}

bool is_folder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Copies a file or a folder's whole tree (both in the long form) over what is there, as the
// shell's copy without questions does; stops at the first failure and answers its Win32 error.
DWORD copy_tree(const std::wstring& from, const std::wstring& to, DWORD attributes) {
  if (!is_folder(attributes)) {
    // A read-only file in the way is overwritten, as the shell does without asking.
    const DWORD existing = GetFileAttributesW(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(to.c_str(), existing & ~FILE_ATTRIBUTE_READONLY);
    }
    return CopyFileW(from.c_str(), to.c_str(), FALSE) ? ERROR_SUCCESS : GetLastError();
  }
  if (!CreateDirectoryW(to.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || !is_folder(GetFileAttributesW(to.c_str()))) return error;
  }
  const Listing listing = list_folder(from);
  if (listing.error != ERROR_SUCCESS) return listing.error;
  for (const WIN32_FIND_DATAW& entry : listing.entries) {
    const DWORD error = copy_tree(from + L"\\" + entry.cFileName, to + L"\\" + entry.cFileName,
                                  entry.dwFileAttributes);
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

// Deletes a file or a folder's whole tree (in the long form). A link to a folder (a junction or
// a symbolic link) is removed itself; what it leads to is never entered.
DWORD delete_tree(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!is_folder(attributes)) {
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    const Listing listing = list_folder(path);
    if (listing.error != ERROR_SUCCESS) return listing.error;
    for (const WIN32_FIND_DATAW& entry : listing.entries) {
      const DWORD error = delete_tree(path + L"\\" + entry.cFileName, entry.dwFileAttributes);
      if (error != ERROR_SUCCESS) return error;
    }
  }
  return RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

// Deletes the copies of `target` (the long form) that earlier runs set aside; one whose program
// still runs stays for a later run.
void remove_set_aside(const std::wstring& target) {
  const std::wstring folder = target.substr(0, target.rfind(L'\\') + 1);
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileExW((target + L".*.old").c_str(), FindExInfoBasic, &entry,
                                 FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (!is_folder(entry.dwFileAttributes)) DeleteFileW((folder + entry.cFileName).c_str());
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

ShellFileOperationResult shell_result(DWORD error) { return {static_cast<int>(error), false}; }

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
 private:
  // The folders up to `path` (the long form), made as the shell makes a missing destination's;
  // the last one only when `including_last`.
  static DWORD make_folders(const std::wstring& path, bool including_last) {
    if (is_folder(GetFileAttributesW(path.c_str()))) return ERROR_SUCCESS;
    // Up to the parent below the root ("\\?\C:\"), which is there.
    const size_t separator = path.rfind(L'\\');
    if (separator != std::wstring::npos && separator > 6) {
      if (const DWORD error = make_folders(path.substr(0, separator), true)) return error;
    }
    if (!including_last || CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS && is_folder(GetFileAttributesW(path.c_str()))
               ? ERROR_SUCCESS
               : error;
  }

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

  bool copy_replacing_program(const std::string& source, const std::string& target) override {
    const std::wstring to = to_win32_path(target, true);
    remove_set_aside(to);
    const std::wstring copy = to_win32_path(pending_name(target, 0), true);
    if (!CopyFileW(to_win32_path(source).c_str(), copy.c_str(), TRUE)) return false;
    if (MoveFileExW(copy.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      // A program still running from the target: its file may be renamed, not replaced.
      const std::wstring aside = to_win32_path(pending_name(target, 0) + ".old", true);
      if (MoveFileExW(to.c_str(), aside.c_str(), 0) && MoveFileExW(copy.c_str(), to.c_str(), 0)) {
        return true;
      }
      error = GetLastError();
    }
    DeleteFileW(copy.c_str());
    SetLastError(error);
    return false;
  }

  // The shell's copy, made with the file calls in the long path form: SHFileOperationW stops at
  // MAX_PATH, and a backup's destination is longer than its source. A folder's content
  // ("folder\*") merges into the destination; a folder goes into an existing destination under
  // its own name, or becomes a missing one (its parents made as needed).
  ShellFileOperationResult shell_copy(const std::string& source,
                                      const std::string& destination) override {
    if (const auto refused = refused_copy(source, destination)) return {*refused, false};
    std::wstring from = plain_path(source);
    const bool wild_card = from.size() >= 2 && from.compare(from.size() - 2, 2, L"\\*") == 0;
    if (wild_card) from.resize(from.size() - 2);
    from = long_form(from);
    std::wstring to = long_form(plain_path(destination));
    if (const DWORD error = make_folders(to, wild_card)) return shell_result(error);
    if (wild_card) return shell_result(copy_tree(from, to, FILE_ATTRIBUTE_DIRECTORY));
    const DWORD attributes = GetFileAttributesW(from.c_str());
    if (is_folder(GetFileAttributesW(to.c_str()))) to += L"\\" + from.substr(from.rfind(L'\\') + 1);
    return shell_result(copy_tree(from, to, attributes));
  }

  ShellFileOperationResult shell_delete(const std::string& path) override {
    const std::wstring target = long_form(plain_path(path));
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return shell_result(GetLastError());
    return shell_result(delete_tree(target, attributes));
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
