#include "standin/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "common/hresult.h"
#include "standin/command_line_rules.h"
#include "standin/package_store.h"
#include "standin/platform_root.h"
#include "standin/win32_errors.h"

extern char** environ;

namespace standin {
namespace {

namespace win32 = pellora::platform::win32;

// ShellExecute's own results: greater than 32 is success.
constexpr intptr_t shell_success = 42;
constexpr intptr_t se_err_fnf = 2;
constexpr intptr_t se_err_accessdenied = 5;
constexpr intptr_t se_err_noassoc = 31;

constexpr char elevated_variable[] = "TREVALON_PLATFORM_ELEVATED";

ShellResult fail(uint32_t last_error, intptr_t result) { return {result, last_error}; }

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

bool is_variable(const char* entry, std::string_view name) {
  return std::strncmp(entry, name.data(), name.size()) == 0 && entry[name.size()] == '=';
}

// Starts the program in a new session, as the shell does: nobody waits for it. posix_spawn
// (a vfork underneath) rather than fork: the caller's address space is not copied and no
// intermediate process has to be scheduled, which is most of the time an application start
// takes. A thread of ours reaps the child, so a long-lived caller gathers no zombies; when the
// caller ends first, init takes the child over. Returns 0 or an errno value (exec failures
// included).
int spawn_detached(const std::string& program, const std::string& parameters, bool elevate) {
  const std::vector<std::string> arguments = split_command_line(parameters);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (is_variable(*entry, command_line_variable)) continue;
    if (elevate && is_variable(*entry, elevated_variable)) continue;
    environment.emplace_back(*entry);
  }
  if (elevate) environment.push_back(std::string(elevated_variable) + "=1");
  // The program gets argv split by the Windows rules and, beside it, the exact text, which it
  // takes as its command line: Windows hands a program its command line unchanged.
  environment.push_back(std::string(command_line_variable) + "=" + parameters);

  std::vector<char*> argv;
  std::string argv0 = program;
  argv.push_back(argv0.data());
  std::vector<std::string> argument_copies = arguments;
  for (std::string& argument : argument_copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // The caller blocks the window's signals for sigwait; the program starts with none blocked
  // and default handling.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGCHLD}) {
    sigaddset(&defaults, signal_number);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int error =
      ::posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return error;
  std::thread([child] {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

}  // namespace

ShellResult shell_execute(const std::string& verb, const std::string& file,
                          const std::string& parameters,
                          const std::function<void()>& before_start) {
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
  std::optional<ActivationLock> no_swap_meanwhile;
  if (const std::string scheme = uri_scheme(file); !scheme.empty()) {
    no_swap_meanwhile.emplace(false);
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
  if (before_start) before_start();
  const int error = spawn_detached(program, parameters, elevate);
  if (error != 0) {
    // ShellExecute answers with the small Win32 code itself (2, 5, 11), else 0.
    const uint32_t code = win32_error_from_errno(error);
    return {code <= 32 ? static_cast<intptr_t>(code) : 0, code};
  }
  return {shell_success, win32::success};
}

}  // namespace standin
