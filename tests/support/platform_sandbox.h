#pragma once
// For end-to-end tests: a fresh TREVALON_PLATFORM_ROOT and TMPDIR in a folder of their own,
// and a way to run a built program inside them and see how it ended.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

 private:
  std::filesystem::path folder_;
};

std::string read_file(const std::filesystem::path& path);

}  // namespace pellora::testing
