#pragma once
// For end-to-end tests: a fresh TREVALON_PLATFORM_ROOT and TMPDIR in a folder of their own, and
// built programs run inside them.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace pellora::testing {

struct ProgramOutcome {
  int status = 0;   // as waitpid gives it
  std::string out;  // standard output
  std::string err;  // standard error (the debug lines, the view and the boxes)

  // The exit code, or -1 when a signal ended the program.
  int code() const;
};

// Whether a program's output `text` holds `part`.
inline bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A program started by PlatformSandbox::start, for a test that acts while it runs. Wait for it
// once: at `timeout` it gets SIGTERM (the window being closed), ten seconds later SIGKILL.
struct RunningProgram {
  pid_t pid;
  std::filesystem::path folder;  // where its standard output and error go
  std::string err_so_far() const;
  ProgramOutcome wait(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
};

class PlatformSandbox {
 public:
  PlatformSandbox() { std::filesystem::create_directories(tmp()); }

  std::filesystem::path path(const std::string& name) const { return folder_.path(name); }
  std::filesystem::path root() const { return path("root"); }
  std::filesystem::path tmp() const { return path("tmp"); }

  // Starts `program` with standard input from /dev/null, the sandbox's root and TMPDIR, and
  // `environment` over this process's; its output goes to files the next start replaces.
  RunningProgram start(const std::string& program, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment = {}) const;
  ProgramOutcome run(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20),
                     const std::map<std::string, std::string>& environment = {}) const {
    return start(program, arguments, environment).wait(timeout);
  }

 private:
  ScratchFolder folder_;
};

}  // namespace pellora::testing
