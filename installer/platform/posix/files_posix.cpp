// File services on POSIX, shaped after CreateDirectoryW, CopyFileW, SHFileOperationW and the
// Windows.Storage calls: the same successes, and failures with the codes those calls give.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/write_all.h"
#include "installer/platform/backend.h"
#include "installer/platform/posix/services_posix.h"
#include "installer/platform/posix/win32_errors.h"
#include "standin/file_operations.h"

namespace pellora::platform::posix {
namespace {

using standin::FileDescriptor;
using standin::joined;
using standin::win32_error_for;

// The Windows text of a code, without the line end, for what a storage call raises.
std::string windows_message(uint32_t code) {
  std::string text = standin::win32_message(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// What a failing Windows.Storage call raises: HRESULT_FROM_WIN32 of the matching error.
[[noreturn]] void raise_storage_error(int error, const std::string& path) {
  const uint32_t code = win32_error_for(error, path);
  // An errno without a Win32 counterpart is no Win32 error either.
  const uint32_t result = (code & 0x20000000u) ? hresult::fail : hresult_from_win32(code);
  throw PlatformError(result, windows_message(code));
}

[[noreturn]] void raise_storage_code(uint32_t code) {
  throw PlatformError(hresult_from_win32(code), windows_message(code));
}

class PosixPendingFile final : public PendingFile {
 public:
  PosixPendingFile(std::string target, std::string temporary, int fd)
      : target_(std::move(target)), temporary_(std::move(temporary)), file_(fd) {}
  ~PosixPendingFile() override {
    if (!committed_) ::unlink(temporary_.c_str());
  }
  PosixPendingFile(const PosixPendingFile&) = delete;
  PosixPendingFile& operator=(const PosixPendingFile&) = delete;

  const std::string& target_path() const override { return target_; }

  void write(const uint8_t* data, size_t size) override {
    if (!standin::write_all(file_.get(),
                            std::string_view(reinterpret_cast<const char*>(data), size))) {
      raise_storage_error(errno, target_);
    }
  }

  void commit() override {
    if (const int error = file_.close()) raise_storage_error(error, target_);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) raise_storage_error(errno, target_);
    committed_ = true;
  }

 private:
  std::string target_;
  std::string temporary_;
  FileDescriptor file_;
  bool committed_ = false;
};

class PosixAppendableFile final : public AppendableFile {
 public:
  explicit PosixAppendableFile(int fd) : file_(fd) {}
  bool append(std::string_view text) override { return standin::write_all(file_.get(), text); }
  uint64_t size() override {
    struct stat info;
    return ::fstat(file_.get(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
  }

 private:
  FileDescriptor file_;
};

// flock belongs to the open file description: a child started with the descriptor closed on
// exec never inherits the hold, and the end of the process, however it comes, releases it.
class PosixHeldFile final : public HeldFile {
 public:
  explicit PosixHeldFile(int fd) : file_(fd) {}
  std::string read() override {
    std::string content;
    char buffer[4096];
    for (off_t offset = 0;;) {
      const ssize_t count = ::pread(file_.get(), buffer, sizeof buffer, offset);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) return {};
      if (count == 0) return content;
      content.append(buffer, static_cast<size_t>(count));
      offset += count;
    }
  }
  bool replace(std::string_view content) override {
    if (::ftruncate(file_.get(), 0) != 0 || ::lseek(file_.get(), 0, SEEK_SET) != 0) return false;
    return standin::write_all(file_.get(), content);
  }

 private:
  FileDescriptor file_;
};

class PosixFiles final : public Files {
 public:
  bool create_directory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    // CreateDirectoryW reports a missing parent as a missing path.
    set_last_error(errno == ENOENT ? win32::path_not_found : win32_error_from_errno(errno));
    return false;
  }

  // Windows gives each user a temporary folder of their own; under a shared /tmp the folder
  // itself must give that guarantee.
  bool create_private_directory(const std::string& path, FolderRefusal& refusal) override {
    refusal = FolderRefusal::none;
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    if (errno != EEXIST) {
      set_last_error(errno == ENOENT ? win32::path_not_found : win32_error_from_errno(errno));
      return false;
    }
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
      set_last_error(win32_error_from_errno(errno));
      return false;
    }
    if (S_ISLNK(info.st_mode)) {
      refusal = FolderRefusal::symbolic_link;
    } else if (!S_ISDIR(info.st_mode)) {
      refusal = FolderRefusal::not_a_folder;
    } else if (info.st_uid != ::geteuid()) {
      refusal = FolderRefusal::other_owner;
    } else if ((info.st_mode & 022) != 0) {
      refusal = FolderRefusal::writable_by_others;
    } else if ((info.st_mode & 077) != 0) {
      // An earlier version left it readable by others: what it holds from now on (the user's
      // data backups) is for the user alone. Through the folder itself, so that a swap of the
      // path for a link in between changes nothing else.
      FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!folder || ::fchmod(folder.get(), 0700) != 0) {
        set_last_error(win32_error_from_errno(errno));
        return false;
      }
    }
    return refusal == FolderRefusal::none;
  }

  bool copy_file(const std::string& source, const std::string& target,
                 bool fail_if_exists) override {
    const uint32_t code = standin::copy_file(source, target, fail_if_exists);
    return code == win32::success || fail(code);
  }

  // A running program's file is replaced by a rename here like any other, and the copy already
  // goes beside the target first: nothing is ever set aside.
  bool copy_replacing_program(const std::string& source, const std::string& target) override {
    return copy_file(source, target, false);
  }

  ShellFileOperationResult shell_copy(const std::string& source,
                                      const std::string& destination) override {
    return {standin::shell_copy(source, destination), false};
  }

  ShellFileOperationResult shell_delete(const std::string& path) override {
    return {standin::shell_delete(path), false};
  }

  std::string create_file_replace_existing(const std::string& folder,
                                           const std::string& name) override {
    ensure_folder_exists(folder);
    const std::string path = joined(folder, name);
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file) {
      if (errno == EISDIR) raise_storage_code(win32::access_denied);
      raise_storage_error(errno, path);
    }
    if (const int error = file.close()) raise_storage_error(error, path);
    return path;
  }

  std::unique_ptr<PendingFile> create_pending_file(const std::string& folder,
                                                   const std::string& name) override {
    ensure_folder_exists(folder);
    const std::string target = joined(folder, name);
    std::string temporary = joined(folder, "." + name + ".XXXXXX");
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) raise_storage_error(errno, target);
    return std::make_unique<PosixPendingFile>(target, temporary, fd);
  }

  std::unique_ptr<AppendableFile> open_for_append(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixAppendableFile>(fd);
  }

  bool list_folder(const std::string& path, std::vector<std::string>& names) override {
    names.clear();
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return fail(win32_error_for(errno, path));
    int error = 0;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(folder);
      if (entry == nullptr) {
        error = errno;
        break;
      }
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(folder);
    return error == 0 ? true : fail(win32_error_from_errno(error));
  }

  std::unique_ptr<HeldFile> hold_file(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      fail(win32_error_for(errno, path));
      return nullptr;
    }
    auto held = std::make_unique<PosixHeldFile>(fd);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      fail(errno == EWOULDBLOCK ? win32::lock_violation : win32_error_from_errno(errno));
      return nullptr;
    }
    return held;
  }

  bool move_file_replacing(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    return fail(win32_error_for(errno, to));
  }

  void write_file(const std::string& path, const std::vector<uint8_t>& bytes) override {
    write_bytes(path, reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

  void write_text(const std::string& path, const std::string& text) override {
    write_bytes(path, text.data(), text.size());
  }

  std::string read_text(const std::string& path) override {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) raise_storage_error(errno, path);
    struct stat info;
    if (::fstat(file.get(), &info) != 0) raise_storage_error(errno, path);
    if (S_ISDIR(info.st_mode)) raise_storage_code(win32::access_denied);
    std::string text;
    text.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
      if (count == 0) break;
      if (count < 0) {
        if (errno == EINTR) continue;
        raise_storage_error(errno, path);
      }
      text.append(buffer, static_cast<size_t>(count));
    }
    return text_without_byte_order_mark(std::move(text));
  }

  void ensure_folder_exists(const std::string& path) override {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) raise_storage_error(errno, path);
    if (!S_ISDIR(info.st_mode)) raise_storage_code(win32::directory);
  }

 private:
  static bool fail(uint32_t code) {
    set_last_error(code);
    return false;
  }

  static void write_bytes(const std::string& path, const char* data, size_t size) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file) {
      if (errno == EISDIR) raise_storage_code(win32::access_denied);
      raise_storage_error(errno, path);
    }
    for (size_t written = 0; written < size;) {
      const ssize_t count = ::write(file.get(), data + written, size - written);
      if (count < 0) {
        if (errno == EINTR) continue;
        raise_storage_error(errno, path);
      }
      written += static_cast<size_t>(count);
    }
    if (const int error = file.close()) raise_storage_error(error, path);
  }
};

}  // namespace

Files* files() {
  static PosixFiles instance;
  return &instance;
}

}  // namespace pellora::platform::posix
