// File services on POSIX, shaped after CreateDirectoryW, CopyFileW, SHFileOperationW and the
// Windows.Storage calls: the same successes, and failures with the codes those calls give.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sendfile.h>
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

namespace pellora::platform::posix {
namespace {

// SHFileOperationW's own results for what the Win32 codes do not cover.
constexpr int de_same_file = 0x71;      // source and destination are the same
constexpr int de_dest_subtree = 0x76;   // the destination lies inside the source
constexpr int de_invalid_files = 0x7C;  // the source path is invalid

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now so that a failing close (a full disk on some file systems) is seen.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result < 0 ? errno : 0;
  }

 private:
  int fd_;
};

class Directory {
 public:
  // Takes over its own duplicate of `fd`, so the caller's descriptor stays usable.
  explicit Directory(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0) {
      dir_ = ::fdopendir(copy);
      if (dir_ == nullptr) ::close(copy);
    }
  }
  ~Directory() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  explicit operator bool() const { return dir_ != nullptr; }
  // The next entry other than "." and "..", or null at the end (errno tells an error apart).
  const dirent* next() {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir_);
      if (entry == nullptr) return nullptr;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      return entry;
    }
  }

 private:
  DIR* dir_ = nullptr;
};

std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string without_trailing_separators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool is_directory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Windows tells a missing file (2) from a missing folder on the way to it (3).
uint32_t win32_error_for(int error, const std::string& path) {
  if (error == ENOENT && !is_directory(parent_of(path))) return win32::path_not_found;
  return win32_error_from_errno(error);
}

std::string windows_message(uint32_t code, int error) {
  switch (code) {
    case win32::file_not_found:
      return "The system cannot find the file specified.";
    case win32::path_not_found:
      return "The system cannot find the path specified.";
    case win32::access_denied:
      return "Access is denied.";
    case win32::disk_full:
      return "There is not enough space on the disk.";
    case win32::invalid_name:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case win32::already_exists:
      return "Cannot create a file when that file already exists.";
    case win32::filename_too_long:
      return "The filename or extension is too long.";
    case win32::directory:
      return "The directory name is invalid.";
    default:
      return std::strerror(error);
  }
}

// What a failing Windows.Storage call raises: HRESULT_FROM_WIN32 of the matching error.
[[noreturn]] void raise_storage_error(int error, const std::string& path) {
  const uint32_t code = win32_error_for(error, path);
  const uint32_t result = (code & 0x20000000u) ? hresult::fail : 0x80070000u | (code & 0xFFFFu);
  throw PlatformError(result, windows_message(code, error));
}

[[noreturn]] void raise_storage_code(uint32_t code) {
  throw PlatformError(0x80070000u | code, windows_message(code, 0));
}

// Copies everything `in` still holds into `out`: in the kernel where it can (reflinks on file
// systems that share extents), else through a large buffer. Returns 0 or an errno.
int copy_contents(int in, int out, off_t size) {
  constexpr size_t chunk = size_t{1} << 30;
  off_t copied = 0;
  bool kernel_copy = true;
  while (kernel_copy) {
    const ssize_t count = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
    if (count > 0) {
      copied += count;
      if (copied >= size) return 0;
      continue;
    }
    if (count == 0) return 0;
    if (copied == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                        errno == EOPNOTSUPP || errno == EBADF || errno == EPERM)) {
      kernel_copy = false;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  for (;;) {
    const ssize_t count = ::sendfile(out, in, nullptr, chunk);
    if (count > 0) continue;
    if (count == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EINVAL || errno == ENOSYS) break;
    return errno;
  }
  thread_local std::vector<char> buffer(size_t{1} << 20);
  for (;;) {
    const ssize_t count = ::read(in, buffer.data(), buffer.size());
    if (count == 0) return 0;
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (ssize_t written = 0; written < count;) {
      const ssize_t step =
          ::write(out, buffer.data() + written, static_cast<size_t>(count - written));
      if (step < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      written += step;
    }
  }
}

// Mode and last-write time follow the source, as a Windows copy keeps attributes and times.
void copy_attributes(int fd, const struct stat& source) {
  ::fchmod(fd, source.st_mode & 07777);
  const timespec times[2] = {source.st_atim, source.st_mtim};
  ::futimens(fd, times);
}

int copy_regular_file(int source_dir, const char* source_name, const struct stat& source,
                      int target_dir, const char* target_name) {
  FileDescriptor in(::openat(source_dir, source_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!in) return errno;
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
  FileDescriptor out(::openat(target_dir, target_name, flags, 0600));
  if (!out && (errno == ELOOP || errno == ETXTBSY || errno == EACCES || errno == EPERM)) {
    // A link, a running program or a read-only file in the way: the shell replaces it.
    if (::unlinkat(target_dir, target_name, 0) == 0) {
      out.reset(::openat(target_dir, target_name, flags, 0600));
    } else {
      errno = EACCES;
    }
  }
  if (!out) return errno == EISDIR ? EEXIST : errno;
  if (source.st_size > 0) {
    if (const int error = copy_contents(in.get(), out.get(), source.st_size)) return error;
  }
  copy_attributes(out.get(), source);
  return out.close();
}

int copy_symlink(int source_dir, const char* source_name, const struct stat& source, int target_dir,
                 const char* target_name) {
  std::vector<char> target(static_cast<size_t>(source.st_size) + 1);
  const ssize_t length = ::readlinkat(source_dir, source_name, target.data(), target.size());
  if (length < 0) return errno;
  target.resize(static_cast<size_t>(length));
  target.push_back(0);
  if (::symlinkat(target.data(), target_dir, target_name) != 0) {
    if (errno != EEXIST) return errno;
    struct stat existing;
    if (::fstatat(target_dir, target_name, &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(existing.st_mode)) {
      return EEXIST;
    }
    if (::unlinkat(target_dir, target_name, 0) != 0) return errno;
    if (::symlinkat(target.data(), target_dir, target_name) != 0) return errno;
  }
  const timespec times[2] = {source.st_atim, source.st_mtim};
  ::utimensat(target_dir, target_name, times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

int copy_entry(int source_dir, const char* source_name, const struct stat& source, int target_dir,
               const char* target_name);

// Merges the content of one folder into another. Stops at the first failure, as the shell does
// without an error dialog.
int copy_folder_content(int source_dir, int target_dir) {
  Directory listing(source_dir);
  if (!listing) return errno;
  while (const dirent* entry = listing.next()) {
    struct stat info;
    if (::fstatat(source_dir, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (const int error = copy_entry(source_dir, entry->d_name, info, target_dir, entry->d_name)) {
      return error;
    }
  }
  return errno;
}

int copy_folder(int source_dir, const char* source_name, const struct stat& source, int target_dir,
                const char* target_name) {
  // Writable until its content is in; the source's mode comes last.
  if (::mkdirat(target_dir, target_name, 0700) != 0 && errno != EEXIST) return errno;
  FileDescriptor from(
      ::openat(source_dir, source_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!from) return errno;
  FileDescriptor to(
      ::openat(target_dir, target_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!to) return errno == ENOTDIR || errno == ELOOP ? EEXIST : errno;
  if (const int error = copy_folder_content(from.get(), to.get())) return error;
  copy_attributes(to.get(), source);
  return 0;
}

int copy_entry(int source_dir, const char* source_name, const struct stat& source, int target_dir,
               const char* target_name) {
  if (S_ISDIR(source.st_mode)) {
    return copy_folder(source_dir, source_name, source, target_dir, target_name);
  }
  if (S_ISLNK(source.st_mode)) {
    return copy_symlink(source_dir, source_name, source, target_dir, target_name);
  }
  if (S_ISREG(source.st_mode)) {
    return copy_regular_file(source_dir, source_name, source, target_dir, target_name);
  }
  return 0;  // devices, pipes and sockets have no Windows counterpart: skipped
}

// mkdir -p, as FOF_NOCONFIRMMKDIR creates a missing destination silently.
int create_folders(const std::string& path) {
  if (path.empty() || is_directory(path)) return 0;
  const std::string parent = parent_of(path);
  if (parent != path) {
    if (const int error = create_folders(parent)) return error;
  }
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return is_directory(path) ? 0 : EEXIST;
}

int remove_folder_content(int folder) {
  Directory listing(folder);
  if (!listing) return errno;
  while (const dirent* entry = listing.next()) {
    bool is_folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info;
      if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
      is_folder = S_ISDIR(info.st_mode);
    }
    if (is_folder) {
      FileDescriptor child(
          ::openat(folder, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
      if (!child) return errno;
      // A read-only folder is deleted anyway, as the shell does without confirmation.
      struct stat info;
      if (::fstat(child.get(), &info) == 0 && (info.st_mode & 0700) != 0700) {
        ::fchmod(child.get(), (info.st_mode & 07777) | 0700);
      }
      if (const int error = remove_folder_content(child.get())) return error;
      if (::unlinkat(folder, entry->d_name, AT_REMOVEDIR) != 0) return errno;
    } else if (::unlinkat(folder, entry->d_name, 0) != 0) {
      return errno;
    }
  }
  return errno;
}

bool same_or_inside(const std::string& path, const std::string& folder) {
  char* real_path = ::realpath(path.c_str(), nullptr);
  char* real_folder = ::realpath(folder.c_str(), nullptr);
  bool result = false;
  if (real_path != nullptr && real_folder != nullptr) {
    const std::string inner = real_path;
    const std::string outer = real_folder;
    result = inner == outer ||
             (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
              (outer == "/" || inner[outer.size()] == '/'));
  }
  std::free(real_path);
  std::free(real_folder);
  return result;
}

ShellFileOperationResult shell_result(int error) {
  return {error == 0 ? 0 : static_cast<int>(win32_error_from_errno(error)), false};
}

// "folder/*": the folder's content merged into `destination`.
ShellFileOperationResult copy_wild_card(const std::string& folder, const std::string& destination) {
  FileDescriptor from(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!from) return {de_invalid_files, false};
  if (const int error = create_folders(destination)) return shell_result(error);
  if (same_or_inside(destination, folder)) {
    return {same_or_inside(folder, destination) ? de_same_file : de_dest_subtree, false};
  }
  FileDescriptor to(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!to) return shell_result(errno);
  return shell_result(copy_folder_content(from.get(), to.get()));
}

// Written through a large buffer: a download arrives in small chunks, and a system call per
// chunk would cost more than the network.
class PosixPendingFile final : public PendingFile {
 public:
  PosixPendingFile(std::string target, std::string temporary, int fd)
      : target_(std::move(target)), temporary_(std::move(temporary)), file_(fd) {
    buffer_.reserve(buffer_bytes);
  }
  ~PosixPendingFile() override {
    if (!committed_) ::unlink(temporary_.c_str());
  }
  PosixPendingFile(const PosixPendingFile&) = delete;
  PosixPendingFile& operator=(const PosixPendingFile&) = delete;

  const std::string& target_path() const override { return target_; }

  void write(const uint8_t* data, size_t size) override {
    if (buffer_.size() + size > buffer_bytes) flush();
    if (size >= buffer_bytes) {
      write_through(reinterpret_cast<const char*>(data), size);
    } else {
      buffer_.insert(buffer_.end(), data, data + size);
    }
  }

  void commit() override {
    flush();
    if (const int error = file_.close()) raise_storage_error(error, target_);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) raise_storage_error(errno, target_);
    committed_ = true;
  }

 private:
  static constexpr size_t buffer_bytes = 256 * 1024;

  void flush() {
    write_through(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

  void write_through(const char* data, size_t size) {
    if (!standin::write_all(file_.get(), std::string_view(data, size))) {
      raise_storage_error(errno, target_);
    }
  }

  std::string target_;
  std::string temporary_;
  FileDescriptor file_;
  std::vector<char> buffer_;
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
  bool create_private_directory(const std::string& path, std::string& refusal) override {
    refusal.clear();
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
      refusal = "it is a symbolic link";
    } else if (!S_ISDIR(info.st_mode)) {
      refusal = "it is not a folder";
    } else if (info.st_uid != ::geteuid()) {
      refusal = "it belongs to another user";
    } else if ((info.st_mode & 022) != 0) {
      refusal = "other users can write to it";
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
    return refusal.empty();
  }

  bool copy_file(const std::string& source, const std::string& target,
                 bool fail_if_exists) override {
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return fail(win32_error_for(errno, source));
    struct stat info;
    if (::fstat(in.get(), &info) != 0) return fail(win32_error_from_errno(errno));
    if (S_ISDIR(info.st_mode) || is_directory(target)) return fail(win32::access_denied);
    if (fail_if_exists && ::access(target.c_str(), F_OK) == 0) return fail(win32::file_exists);

    // Written beside the target and renamed over it, so a reader (or a running copy of the
    // program) never sees half a file.
    std::string temporary = joined(parent_of(target), "." + name_of(target) + ".XXXXXX");
    FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!out) return fail(win32_error_for(errno, target));
    int error = copy_contents(in.get(), out.get(), info.st_size);
    if (error == 0) {
      copy_attributes(out.get(), info);
      error = out.close();
    }
    if (error == 0) error = rename_into_place(temporary, target, fail_if_exists);
    if (error != 0) {
      ::unlink(temporary.c_str());
      return fail(error == EEXIST ? win32::file_exists : win32_error_from_errno(error));
    }
    return true;
  }

  ShellFileOperationResult shell_copy(const std::string& source,
                                      const std::string& destination) override {
    if (source.size() >= 2 && source.compare(source.size() - 2, 2, "/*") == 0) {
      const std::string folder = source.size() == 2 ? "/" : source.substr(0, source.size() - 2);
      return copy_wild_card(folder, without_trailing_separators(destination));
    }
    std::string from = without_trailing_separators(source);
    struct stat info;
    if (::lstat(from.c_str(), &info) != 0) {
      return {static_cast<int>(win32_error_for(errno, from)), false};
    }
    if (S_ISLNK(info.st_mode)) {
      // The named source itself is taken for what it names, as the shell copies the folder a
      // link stands for: a copy that is only a link into the original is no copy.
      char* resolved = ::realpath(from.c_str(), nullptr);
      if (resolved == nullptr) return {static_cast<int>(win32_error_for(errno, from)), false};
      from = resolved;
      std::free(resolved);
      if (::lstat(from.c_str(), &info) != 0) return shell_result(errno);
    }
    // Into an existing folder the source goes under its own name; otherwise it becomes the
    // destination.
    std::string target = without_trailing_separators(destination);
    if (is_directory(target)) target = joined(target, name_of(from));
    if (S_ISDIR(info.st_mode) && same_or_inside(parent_of(target), from)) {
      return {de_dest_subtree, false};
    }
    if (const int error = create_folders(parent_of(target))) return shell_result(error);
    FileDescriptor from_parent(::open(parent_of(from).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    FileDescriptor to_parent(::open(parent_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!from_parent || !to_parent) return shell_result(errno);
    return shell_result(copy_entry(from_parent.get(), name_of(from).c_str(), info, to_parent.get(),
                                   name_of(target).c_str()));
  }

  ShellFileOperationResult shell_delete(const std::string& path) override {
    const std::string target = without_trailing_separators(path);
    struct stat info;
    if (::lstat(target.c_str(), &info) != 0) {
      return {static_cast<int>(win32_error_for(errno, target)), false};
    }
    if (!S_ISDIR(info.st_mode)) return shell_result(::unlink(target.c_str()) == 0 ? 0 : errno);
    FileDescriptor folder(::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (!folder) return shell_result(errno);
    if (const int error = remove_folder_content(folder.get())) return shell_result(error);
    folder.reset();
    return shell_result(::rmdir(target.c_str()) == 0 ? 0 : errno);
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
    FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return fail(win32_error_for(errno, path));
    Directory entries(folder.get());
    if (!entries) return fail(win32_error_from_errno(errno));
    while (const dirent* entry = entries.next()) names.emplace_back(entry->d_name);
    if (errno != 0) return fail(win32_error_from_errno(errno));
    return true;
  }

  std::unique_ptr<HeldFile> hold_file(const std::string& path) override {
    FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file) {
      fail(win32_error_for(errno, path));
      return nullptr;
    }
    while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      fail(errno == EWOULDBLOCK ? win32::lock_violation : win32_error_from_errno(errno));
      return nullptr;
    }
    auto held = std::make_unique<PosixHeldFile>(file.get());
    file.release();
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
    // The reader takes the byte-order mark as the encoding's signature, not as text.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return text;
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

  static int rename_into_place(const std::string& from, const std::string& to,
                               bool fail_if_exists) {
    if (!fail_if_exists) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without RENAME_NOREPLACE: a hard link fails just the same on an existing name.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
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
