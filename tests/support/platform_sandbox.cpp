#include "tests/support/platform_sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace pellora::testing {

namespace fs = std::filesystem;

bool ProgramOutcome::exited() const { return WIFEXITED(status); }

int ProgramOutcome::code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

PlatformSandbox::PlatformSandbox() {
  std::string pattern = (fs::temp_directory_path() / "trevalon-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  fs::create_directories(tmp());
}

PlatformSandbox::~PlatformSandbox() {
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

ProgramOutcome PlatformSandbox::run(const std::string& program,
                                    const std::vector<std::string>& arguments,
                                    std::chrono::milliseconds timeout,
                                    const std::map<std::string, std::string>& environment) const {
  return start(program, arguments, environment).wait(timeout);
}

RunningProgram PlatformSandbox::start(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::map<std::string, std::string>& environment) const {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  variables["TREVALON_PLATFORM_ROOT"] = root().string();
  variables["TMPDIR"] = tmp().string();
  for (const auto& [name, value] : environment) variables[name] = value;
  std::vector<std::string> variable_texts;
  for (const auto& [name, value] : variables) variable_texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& text : variable_texts) envp.push_back(text.data());
  envp.push_back(nullptr);

  std::vector<std::string> argument_texts = {program};
  argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : argument_texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  const std::string out_path = path("stdout.txt").string();
  const std::string err_path = path("stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t child = 0;
  const int spawned =
      ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  return RunningProgram(child, out_path, err_path);
}

std::string RunningProgram::err_so_far() const { return read_file(err_path_); }

ProgramOutcome RunningProgram::wait(std::chrono::milliseconds timeout) {
  const pid_t child = pid_;
  ProgramOutcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool terminated = false;
  for (;;) {
    if (::waitpid(child, &outcome.status, WNOHANG) == child) break;
    const auto now = std::chrono::steady_clock::now();
    if (!terminated && now >= deadline) {
      outcome.timed_out = true;
      ::kill(child, SIGTERM);
      terminated = true;
    } else if (terminated && now >= deadline + std::chrono::seconds(10)) {
      ::kill(child, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  outcome.out = read_file(out_path_);
  outcome.err = read_file(err_path_);
  return outcome;
}

int run_and_wait(const std::vector<std::string>& command) {
  std::vector<std::string> copies = command;
  std::vector<char*> argv;
  for (std::string& part : copies) argv.push_back(part.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace pellora::testing
