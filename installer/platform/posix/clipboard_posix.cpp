#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "installer/platform/error.h"
#include "installer/platform/posix/backend.h"
#include "installer/platform/posix/win32_errors.h"
#include "installer/platform/posix/write_all.h"

namespace pellora::platform::posix {
namespace {

std::string platform_root() {
  System* system = posix::system();
  if (auto root = system->get_env("TREVALON_PLATFORM_ROOT"); root && !root->empty()) return *root;
  if (auto state = system->get_env("XDG_STATE_HOME"); state && !state->empty()) {
    return *state + "/trevalon-platform";
  }
  std::string home = system->get_env("HOME").value_or("");
  if (home.empty()) {
    if (const passwd* user = ::getpwuid(::getuid())) home = user->pw_dir;
  }
  return home + "/.local/state/trevalon-platform";
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
  throw PlatformError(0x80070000u | (win32_error_from_errno(error) & 0xFFFFu),
                      what + " " + path + ": " + std::strerror(error));
}

// mkdir -p.
void create_folders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      fail("Cannot create the folder", prefix, errno);
    }
  }
}

// The clipboard is a file under the platform root. It is replaced by a rename, so that a
// reader sees either the old text or the new one, never a part.
class FileClipboard final : public Clipboard {
 public:
  void set_text_and_flush(const std::string& text) override {
    const std::string root = platform_root();
    create_folders(root);
    const std::string path = root + "/clipboard.txt";
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) fail("Cannot write the clipboard", path, errno);
    if (!write_all(fd, text)) {
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
