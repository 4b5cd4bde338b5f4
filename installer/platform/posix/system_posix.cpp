#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "installer/platform/backend.h"
#include "installer/platform/posix/services_posix.h"
#include "installer/platform/posix/win32_errors.h"

namespace pellora::platform::posix {
namespace {

std::mutex& environment_mutex() {
  static std::mutex mutex;
  return mutex;
}

class PosixSystem final : public System {
 public:
  [[noreturn]] void exit_process(int code) override {
    std::fflush(nullptr);
    // The window goes with the process: on a terminal its view may still occupy the current
    // line (debug records always end theirs), and the next program's output would join it.
    if (::isatty(STDERR_FILENO) == 1) (void)!::write(STDERR_FILENO, "\r\x1b[K", 4);
    // Like ExitProcess: no static destructors while other threads still run.
    std::_Exit(code);
  }

  bool submit_work(std::function<void()> work) override {
    try {
      std::thread(std::move(work)).detach();
      return true;
    } catch (const std::system_error& error) {
      set_last_error_from_errno(error.code().value());
      return false;
    }
  }

  uint32_t process_id() override { return static_cast<uint32_t>(::getpid()); }

  uint64_t tick_count_ms() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  void sleep_ms(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  std::string module_file_name() override {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      set_last_error_from_errno(errno);
      return {};
    }
    if (static_cast<size_t>(length) >= buffer.size()) {
      posix::set_last_error(win32::filename_too_long);
      return {};
    }
    return std::string(buffer.data(), static_cast<size_t>(length));
  }

  std::string temp_path() override {
    std::string path;
    if (auto tmpdir = get_env("TMPDIR"); tmpdir && !tmpdir->empty()) {
      path = *tmpdir;
    } else {
      path = "/tmp";
    }
    if (path.back() != '/') path += '/';
    return path;
  }

  std::optional<std::string> get_env(const std::string& name) override {
    std::lock_guard lock(environment_mutex());
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  void set_env(const std::string& name, const std::string& value) override {
    std::lock_guard lock(environment_mutex());
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  // An administrator here is root or a member of sudo, wheel or admin.
  bool current_user_is_admin() override {
    if (::geteuid() == 0) return true;
    const passwd* user = ::getpwuid(::geteuid());
    if (user == nullptr) return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
      groups.resize(static_cast<size_t>(count));
      if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(static_cast<size_t>(count));
    for (gid_t gid : groups) {
      if (const group* entry = ::getgrgid(gid)) {
        const std::string name = entry->gr_name;
        if (name == "sudo" || name == "wheel" || name == "admin") return true;
      }
    }
    return false;
  }
  std::string path_separator() override { return "/"; }
  uint32_t last_error() override { return posix::get_last_error(); }
  void set_last_error(uint32_t code) override { posix::set_last_error(code); }
  std::string format_message(uint32_t code) override { return posix::format_message(code); }
};

}  // namespace

System* system() {
  static PosixSystem instance;
  return &instance;
}

}  // namespace pellora::platform::posix
