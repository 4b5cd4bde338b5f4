#pragma once
// Windows' file operations as the stand-in performs them on POSIX: the shell's copy and delete of
// trees (modes and links kept, as attributes and reparse points are; nothing written or deleted
// through a link) and CopyFileW, whose target a reader never sees half written. Results are the
// Win32 codes (and the shell's own) that Windows gives.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace standin {

// A file descriptor owned: closed with its owner.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
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

std::string parent_of(const std::string& path);
// `name` in `folder`.
std::string joined(const std::string& folder, const std::string& name);
// The Win32 code for an errno met at `path`: Windows tells a missing file (2) from a missing
// folder on the way to it (3).
uint32_t win32_error_for(int error, const std::string& path);

// SHFileOperationW FO_COPY without confirmations or error UI: 0, a Win32 code or the shell's own.
// A source ending in "/*" merges the folder's content into the destination, overwriting
// same-named files; a folder source with a missing destination becomes that destination.
int shell_copy(const std::string& source, const std::string& destination);
// SHFileOperationW FO_DELETE of a tree, permanently, read-only folders included.
int shell_delete(const std::string& path);
// CopyFileW: 0 or the Win32 code.
uint32_t copy_file(const std::string& source, const std::string& target, bool fail_if_exists);

}  // namespace standin
