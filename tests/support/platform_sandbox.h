#pragma once
// For end-to-end tests: a fresh TREVALON_PLATFORM_ROOT and TMPDIR in a folder of their own,
// and a way to run a built program inside them and see how it ended.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace pellora::testing {

struct ProgramOutcome {
  int status = 0;          // as waitpid gives it
  bool timed_out = false;  // it was sent SIGTERM at the time limit
  std::string out;         // standard output
  std::string err;         // standard error (the debug lines, the view and the boxes)

  bool exited() const;
  // The exit code, or -1 when a signal ended the program.
  int code() const;
};

// A program started by PlatformSandbox::start, for a test that must act while it runs (send it
// a signal, change the site). Wait for it exactly once.
class RunningProgram {
 public:
  RunningProgram(pid_t pid, std::filesystem::path out_path, std::filesystem::path err_path)
      : pid_(pid), out_path_(std::move(out_path)), err_path_(std::move(err_path)) {}
  pid_t pid() const { return pid_; }
  // Standard error so far (the debug lines appear there as they are written).
  std::string err_so_far() const;
  // Waits for the end; at `timeout` the program gets SIGTERM, ten seconds later SIGKILL.
  ProgramOutcome wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  pid_t pid_;
  std::filesystem::path out_path_;
  std::filesystem::path err_path_;
};

class PlatformSandbox {
 public:
  PlatformSandbox();
  ~PlatformSandbox();
  PlatformSandbox(const PlatformSandbox&) = delete;
  PlatformSandbox& operator=(const PlatformSandbox&) = delete;

  std::filesystem::path path(const std::string& name) const { return folder_ / name; }
  std::filesystem::path root() const { return folder_ / "root"; }
  std::filesystem::path tmp() const { return folder_ / "tmp"; }

  // Runs `program` with standard input from /dev/null, the sandbox's root and TMPDIR, and
  // `environment` on top of this process's environment. At `timeout` it gets SIGTERM (the
  // window being closed), ten seconds later SIGKILL.
  ProgramOutcome run(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20),
                     const std::map<std::string, std::string>& environment = {}) const;
  // The same, without waiting. Standard output and error go to files of the sandbox that the
  // next start replaces.
  RunningProgram start(const std::string& program, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment = {}) const;

 private:
  std::filesystem::path folder_;
};

// Runs a program (argv[0] is its path) in this process's environment and waits for it; its
// exit code, or -1 when it could not start or did not exit normally.
int run_and_wait(const std::vector<std::string>& command);

}  // namespace pellora::testing
