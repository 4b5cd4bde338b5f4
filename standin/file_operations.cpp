// Windows' file operations on POSIX: the shell's copy and delete of trees, and CopyFileW.
#include "standin/file_operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/hresult.h"
#include "standin/platform_root.h"
#include "standin/win32_errors.h"

namespace standin {
namespace {

namespace win32 = pellora::platform::win32;
namespace shell_operation = pellora::platform::shell_operation;

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

std::string name_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string without_trailing_separators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
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

int shell_result(int error) {
  return error == 0 ? 0 : static_cast<int>(win32_error_from_errno(error));
}

// "folder/*": the folder's content merged into `destination`.
int copy_wild_card(const std::string& folder, const std::string& destination) {
  FileDescriptor from(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!from) return shell_operation::invalid_files;
  if (const int error = create_folders(destination)) return shell_result(error);
  if (same_or_inside(destination, folder)) {
    return same_or_inside(folder, destination) ? shell_operation::same_file
                                               : shell_operation::dest_subtree;
  }
  FileDescriptor to(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!to) return shell_result(errno);
  return shell_result(copy_folder_content(from.get(), to.get()));
}

int rename_into_place(const std::string& from, const std::string& to, bool fail_if_exists) {
  if (!fail_if_exists) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without RENAME_NOREPLACE: a hard link fails just the same on an existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Windows tells a missing file (2) from a missing folder on the way to it (3).
uint32_t win32_error_for(int error, const std::string& path) {
  if (error == ENOENT && !is_directory(parent_of(path))) return win32::path_not_found;
  return win32_error_from_errno(error);
}

uint32_t copy_file(const std::string& source, const std::string& target, bool fail_if_exists) {
  FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return win32_error_for(errno, source);
  struct stat info;
  if (::fstat(in.get(), &info) != 0) return win32_error_from_errno(errno);
  if (S_ISDIR(info.st_mode) || is_directory(target)) return win32::access_denied;
  if (fail_if_exists && ::access(target.c_str(), F_OK) == 0) return win32::file_exists;

  // Written beside the target and renamed over it, so a reader (or a running copy of the
  // program) never sees half a file.
  std::string temporary = joined(parent_of(target), "." + name_of(target) + ".XXXXXX");
  FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!out) return win32_error_for(errno, target);
  int error = copy_contents(in.get(), out.get(), info.st_size);
  if (error == 0) {
    copy_attributes(out.get(), info);
    error = out.close();
  }
  if (error == 0) error = rename_into_place(temporary, target, fail_if_exists);
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error == EEXIST ? win32::file_exists : win32_error_from_errno(error);
  }
  return win32::success;
}

int shell_copy(const std::string& source, const std::string& destination) {
  if (source.size() >= 2 && source.compare(source.size() - 2, 2, "/*") == 0) {
    const std::string folder = source.size() == 2 ? "/" : source.substr(0, source.size() - 2);
    return copy_wild_card(folder, without_trailing_separators(destination));
  }
  std::string from = without_trailing_separators(source);
  struct stat info;
  if (::lstat(from.c_str(), &info) != 0) {
    return static_cast<int>(win32_error_for(errno, from));
  }
  if (S_ISLNK(info.st_mode)) {
    // The named source itself is taken for what it names, as the shell copies the folder a
    // link stands for: a copy that is only a link into the original is no copy.
    char* resolved = ::realpath(from.c_str(), nullptr);
    if (resolved == nullptr) return static_cast<int>(win32_error_for(errno, from));
    from = resolved;
    std::free(resolved);
    if (::lstat(from.c_str(), &info) != 0) return shell_result(errno);
  }
  // Into an existing folder the source goes under its own name; otherwise it becomes the
  // destination.
  std::string target = without_trailing_separators(destination);
  if (is_directory(target)) target = joined(target, name_of(from));
  if (S_ISDIR(info.st_mode) && same_or_inside(parent_of(target), from)) {
    return shell_operation::dest_subtree;
  }
  if (const int error = create_folders(parent_of(target))) return shell_result(error);
  FileDescriptor from_parent(::open(parent_of(from).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  FileDescriptor to_parent(::open(parent_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!from_parent || !to_parent) return shell_result(errno);
  return shell_result(copy_entry(from_parent.get(), name_of(from).c_str(), info, to_parent.get(),
                                 name_of(target).c_str()));
}

int shell_delete(const std::string& path) {
  const std::string target = without_trailing_separators(path);
  struct stat info;
  if (::lstat(target.c_str(), &info) != 0) {
    return static_cast<int>(win32_error_for(errno, target));
  }
  if (!S_ISDIR(info.st_mode)) return shell_result(::unlink(target.c_str()) == 0 ? 0 : errno);
  FileDescriptor folder(::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!folder) return shell_result(errno);
  if (const int error = remove_folder_content(folder.get())) return shell_result(error);
  folder.reset();
  return shell_result(::rmdir(target.c_str()) == 0 ? 0 : errno);
}

}  // namespace standin
