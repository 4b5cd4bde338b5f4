#include "tests/support/platform_sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace pellora::testing {

int ProgramOutcome::code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

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
  std::vector<std::string> texts;
  for (const auto& [name, value] : variables) texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& text : texts) envp.push_back(text.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (const auto& [fd, name] : {std::pair{1, "stdout.txt"}, std::pair{2, "stderr.txt"}}) {
    posix_spawn_file_actions_addopen(&actions, fd, path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  std::vector<std::string> command = {program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& part : command) argv.push_back(part.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int failed =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + program);
  return RunningProgram{pid, folder_.path()};
}

std::string RunningProgram::err_so_far() const { return read_file(folder / "stderr.txt"); }

ProgramOutcome RunningProgram::wait(std::chrono::milliseconds timeout) const {
  ProgramOutcome outcome;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (::waitpid(pid, &outcome.status, WNOHANG) != pid) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
      ::kill(pid, now >= deadline + std::chrono::seconds(10) ? SIGKILL : SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  outcome.out = read_file(folder / "stdout.txt");
  outcome.err = read_file(folder / "stderr.txt");
  return outcome;
}

}  // namespace pellora::testing
