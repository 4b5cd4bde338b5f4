#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include "common/write_all.h"
#include "launcher/platform/platform.h"
#include "launcher/platform/posix/known_folders.h"
#include "standin/package_store.h"
#include "standin/terminal_text.h"

namespace launcher::platform {
namespace {

// What standard error's reader gets to take each record: the launcher's messages never hold it
// up.
constexpr std::chrono::milliseconds write_patience(200);

std::optional<std::string> environment_variable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool on_terminal() {
  static const bool terminal = ::isatty(STDERR_FILENO) == 1;
  return terminal;
}

class PosixPlatform final : public Platform {
 public:
  KnownFolderPath known_folder_path(KnownFolder folder, KnownFolderMode mode) override {
    // Package identity is decided once, when the process starts.
    static const std::optional<standin::Registration> package = standin::current_process_package();
    return posix::stand_in_known_folder_path(folder, mode, package, environment_variable);
  }

  std::optional<std::string> get_variable(const std::string& name) override {
    return environment_variable(name);
  }

  void set_variable(const std::string& name, const std::string& value) override {
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  void remove_variable(const std::string& name) override { ::unsetenv(name.c_str()); }

  // Each call is one record; a record that does not end a line gets a line feed, as a
  // debug-output viewer shows every call on its own line. Text from elsewhere (the JVM's, a
  // configuration's) must not drive a terminal: its control characters are shown, not sent.
  void debug_output(std::string_view text) override {
    std::string record = on_terminal_ ? standin::shown_on_terminal(text) : std::string(text);
    if (record.empty() || record.back() != '\n') record += '\n';
    standin::write_within(STDERR_FILENO, record, write_patience);
  }

  // Nobody can close a box that nobody sees: wait only when a person is at the terminal.
  void message_box(std::string_view text, std::string_view caption) override {
    std::string record;
    record.append(caption).append("\n");
    record += on_terminal_ ? standin::shown_on_terminal(text) : std::string(text);
    if (record.back() != '\n') record += '\n';
    standin::write_within(STDERR_FILENO, record, write_patience);
    if (::isatty(STDIN_FILENO) == 1) {
      char byte = 0;
      while (true) {
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || byte == '\n') break;
      }
    }
  }

 private:
  const bool on_terminal_ = ::isatty(STDERR_FILENO) == 1;
};

void* thread_start(void* body) {
  reinterpret_cast<void (*)()>(body)();
  return nullptr;
}

}  // namespace

Platform& system_platform() {
  static PosixPlatform instance;
  return instance;
}

void write_standard_error(std::string_view text) {
  const std::string shown = on_terminal() ? standin::shown_on_terminal(text) : std::string(text);
  standin::write_within(STDERR_FILENO, shown, write_patience);
}

void exit_process(int code) { std::exit(code); }

std::string executable_path() {
  std::string path(4096, '\0');
  while (true) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

char path_separator() { return '/'; }

// A POSIX terminal takes UTF-8 and escape sequences as it is.
void set_up_utf8_console() {}

bool run_on_new_thread(uint32_t stack_size, void (*body)()) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  if (stack_size != 0) {
    // Like the commit size it is on Windows, the request can grow the stack beyond the
    // default but never shrink it below: the JVM needs room to start on this thread.
    size_t size = 0;
    ::pthread_attr_getstacksize(&attributes, &size);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (stack_size > size) {
      size = stack_size;
      if (page > 0) size = (size + static_cast<size_t>(page) - 1) / page * page;
    }
    ::pthread_attr_setstacksize(&attributes, size);
  }
  pthread_t thread;
  const int created =
      ::pthread_create(&thread, &attributes, thread_start, reinterpret_cast<void*>(body));
  ::pthread_attr_destroy(&attributes);
  if (created != 0) return false;
  ::pthread_join(thread, nullptr);
  return true;
}

}  // namespace launcher::platform
