#include "standin/platform_root.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace standin {
namespace {

std::string under_root(const char* name) { return platform_root() + "/" + name; }

}  // namespace

std::string platform_root() {
  if (const char* root = std::getenv("TREVALON_PLATFORM_ROOT"); root != nullptr && *root) {
    std::string path = root;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg) {
    state = xdg;
  } else {
    state = home_folder() + "/.local/state";
  }
  return state + "/trevalon-platform";
}

std::string home_folder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home) return home;
  // A process started without HOME still has a home.
  if (const passwd* user = ::getpwuid(::getuid())) return user->pw_dir;
  return {};
}

std::string packages_folder() { return under_root("packages"); }
std::string registrations_folder() { return under_root("registrations"); }
std::string data_folder() { return under_root("data"); }
std::string protocols_folder() { return under_root("protocols"); }
std::string trust_folder() { return under_root("trust"); }
std::string staging_folder() { return under_root("staging"); }
std::string store_lock_path() { return under_root("store.lock"); }
std::string activation_lock_path() { return under_root("activation.lock"); }
std::string require_admin_marker_path() { return under_root("policy/require-admin"); }

bool make_directories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) {
    errno = error.value();
    return false;
  }
  return true;
}

bool remove_tree(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
  return !error;
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string real_path(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return {};
  return buffer;
}

StoreLock::StoreLock() {
  make_directories(platform_root());
  fd_ = ::open(store_lock_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  acquired_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

StoreLock::~StoreLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the flock
}

ActivationLock::ActivationLock(bool exclusive) {
  make_directories(platform_root());
  fd_ = ::open(activation_lock_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return;  // a read-only root: nothing can be swapped there either
  while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
  }
}

ActivationLock::~ActivationLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace standin
