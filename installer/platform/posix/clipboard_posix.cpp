#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/error.h"
#include "common/write_all.h"
#include "installer/platform/posix/services_posix.h"
#include "installer/platform/posix/win32_errors.h"
#include "standin/platform_root.h"

namespace pellora::platform::posix {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  throw PlatformError(0x80070000u | (win32_error_from_errno(error) & 0xFFFFu),
                      what + " " + path + ": " + std::strerror(error));
}

// The clipboard is a file under the platform root. It is replaced by a rename, so that a
// reader sees either the old text or the new one, never a part.
class FileClipboard final : public Clipboard {
 public:
  void set_text_and_flush(const std::string& text) override {
    const std::string root = standin::platform_root();
    if (!standin::make_directories(root)) fail("Cannot create the folder", root, errno);
    const std::string path = root + "/clipboard.txt";
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) fail("Cannot write the clipboard", path, errno);
    if (!standin::write_all(fd, text)) {
      const int error = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      fail("Cannot write the clipboard", path, error);
    }
    ::fchmod(fd, 0644);
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
      ::unlink(temporary.c_str());
      fail("Cannot write the clipboard", path, error);
    }
  }
};

}  // namespace

Clipboard* clipboard() {
  static FileClipboard instance;
  return &instance;
}

}  // namespace pellora::platform::posix
