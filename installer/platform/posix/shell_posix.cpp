// ShellExecute: programs are started detached with their parameters split by the Windows
// command-line rules (no shell ever sees them); URIs go to the package that registered their
// scheme; "runas" marks the started process as elevated.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "installer/platform/last_error.h"
#include "installer/platform/posix/backend.h"
#include "installer/platform/posix/command_line_rules.h"
#include "installer/platform/posix/package_store.h"
#include "installer/platform/posix/win32_errors.h"

extern char** environ;

namespace pellora::platform::posix {
namespace {

// ShellExecute's own results: greater than 32 is success.
constexpr intptr_t shell_success = 42;
constexpr intptr_t se_err_fnf = 2;
constexpr intptr_t se_err_accessdenied = 5;
constexpr intptr_t se_err_noassoc = 31;

constexpr char elevated_variable[] = "TREVALON_PLATFORM_ELEVATED";

intptr_t fail(uint32_t last_error, intptr_t result) {
  set_last_error(last_error);
  return result;
}

// The scheme of a URI ("scheme:rest"), or empty when `file` names a file.
std::string uri_scheme(const std::string& file) {
  const size_t colon = file.find(':');
  if (colon == std::string::npos) return {};
  std::string scheme = file.substr(0, colon);
  if (!is_valid_scheme(scheme)) return {};
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

bool is_executable_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

bool has_exe_extension(const std::string& path) {
  if (path.size() < 4) return false;
  std::string extension = path.substr(path.size() - 4);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".exe";
}

// Where the shell would find `file`: as given when it holds a slash, else on PATH. Sets errno
// (ENOENT, EACCES) and returns empty when there is nothing to start.
std::string resolve_program(const std::string& file) {
  if (file.empty()) {
    errno = ENOENT;
    return {};
  }
  if (file.find('/') != std::string::npos) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return {};
    // Windows runs an .exe by its name; a program the installer downloaded has no execute bit
    // here, so the shell gives it the one its read bits imply, as starting it on Windows would.
    if (S_ISREG(info.st_mode) && has_exe_extension(file) && (info.st_mode & 0111) == 0) {
      ::chmod(file.c_str(), (info.st_mode & 07777) | ((info.st_mode & 0444) >> 2));
    }
    if (!is_executable_file(file)) {
      errno = EACCES;
      return {};
    }
    return file;
  }
  const char* path_variable = std::getenv("PATH");
  const std::string search =
      path_variable != nullptr ? path_variable : "/usr/local/bin:/usr/bin:/bin";
  bool found_unusable = false;
  size_t start = 0;
  while (start <= search.size()) {
    size_t end = search.find(':', start);
    if (end == std::string::npos) end = search.size();
    std::string candidate = end > start ? search.substr(start, end - start) : std::string(".");
    candidate += '/';
    candidate += file;
    if (is_executable_file(candidate)) return candidate;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0) found_unusable = true;
    start = end + 1;
  }
  errno = found_unusable ? EACCES : ENOENT;
  return {};
}

// Starts the program in a new session with a double fork, so that it is nobody's child to wait
// for. Exec failures come back through a close-on-exec pipe. Returns 0 or an errno value.
int spawn_detached(const std::string& program, const std::vector<std::string>& arguments,
                   bool elevate) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (elevate && std::strncmp(*entry, elevated_variable, sizeof elevated_variable - 1) == 0 &&
        (*entry)[sizeof elevated_variable - 1] == '=') {
      continue;
    }
    environment.emplace_back(*entry);
  }
  if (elevate) environment.push_back(std::string(elevated_variable) + "=1");

  std::vector<char*> argv;
  std::string argv0 = program;
  argv.push_back(argv0.data());
  std::vector<std::string> argument_copies = arguments;
  for (std::string& argument : argument_copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on: other threads may hold locks.
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int error = errno;
        (void)!::write(report[1], &error, sizeof error);
      }
      ::_exit(0);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
      ::signal(signal_number, SIG_DFL);
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

class PosixShell final : public Shell {
 public:
  intptr_t shell_execute(const std::string& verb, const std::string& file,
                         const std::string& parameters, int /*show_command*/) override {
    const bool elevate = verb == "runas";
    if (!elevate && verb != "open" && !verb.empty()) {
      return fail(win32::no_association, se_err_noassoc);
    }
    if (elevate) {
      const char* elevation = std::getenv("TREVALON_PLATFORM_ELEVATION");
      if (elevation != nullptr && std::string(elevation) == "refuse") {
        return fail(win32::cancelled, se_err_accessdenied);
      }
    }
    std::string program;
    if (const std::string scheme = uri_scheme(file); !scheme.empty()) {
      const auto handler = protocol_handler(scheme);
      if (!handler || handler->executable.empty() || !read_registration(handler->full_name)) {
        return fail(win32::no_association, se_err_noassoc);
      }
      program = installed_folder(handler->full_name) + "/" + handler->executable;
      if (!is_executable_file(program)) {
        return fail(win32::file_not_found, se_err_fnf);
      }
    } else {
      program = resolve_program(file);
      if (program.empty()) {
        return errno == EACCES ? fail(win32::access_denied, se_err_accessdenied)
                               : fail(win32::file_not_found, se_err_fnf);
      }
    }
    const int error = spawn_detached(program, split_command_line(parameters), elevate);
    if (error != 0) {
      // ShellExecute answers with the small Win32 code itself (2, 5, 11), else 0.
      const uint32_t code = set_last_error_from_errno(error);
      return code <= 32 ? static_cast<intptr_t>(code) : 0;
    }
    set_last_error(win32::success);
    return shell_success;
  }
};

}  // namespace

Shell* shell() {
  static PosixShell instance;
  return &instance;
}

}  // namespace pellora::platform::posix
