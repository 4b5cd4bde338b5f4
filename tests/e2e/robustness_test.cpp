// What the built programs survive: a log reader that went away, and command lines that must
// arrive byte for byte.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "installer/platform/backend.h"
#include "tests/support/e2e_site.h"
#include "tests/support/platform_sandbox.h"

namespace {

const std::string bin_dir = TREVALON_BIN_DIR;

// Runs `argv` with standard error on a pipe whose reader has already gone, as in
// `program 2>&1 >/dev/null | head -c1` once head has ended. Returns the wait status.
int run_with_closed_standard_error(const std::vector<std::string>& argv,
                                   const pellora::testing::PlatformSandbox& sandbox) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  ::close(fds[0]);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(fds[1], STDERR_FILENO);
    ::dup2(::open("/dev/null", O_RDWR), STDIN_FILENO);
    ::dup2(STDIN_FILENO, STDOUT_FILENO);
    ::setenv("TREVALON_PLATFORM_ROOT", sandbox.root().c_str(), 1);
    ::setenv("TMPDIR", sandbox.tmp().c_str(), 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

TEST(Robustness, AClosedLogPipeEndsNeitherProgram) {
  const pellora::testing::PlatformSandbox sandbox;
  // Neither program is burned: each reports that and exits with 1, whoever reads the report.
  for (const std::string& program : {bin_dir + "/pellora", bin_dir + "/launcher"}) {
    const int status = run_with_closed_standard_error({program, "--update-check"}, sandbox);
    ASSERT_TRUE(WIFEXITED(status)) << program << " ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << program;
  }
}

// Parameters come from sites too (an escape hatch's query): no shell may expand, substitute or
// chain anything in them.
TEST(Robustness, AParameterTextReachesTheStartedProgramByteForByte) {
  const pellora::testing::PlatformSandbox sandbox;
  const std::string report = sandbox.path("report").string();
  const std::string pwned = sandbox.path("pwned").string();
  ::setenv("TREVALON_PROBE_REPORT", report.c_str(), 1);
  // Runs of blanks and tabs, trailing blanks and a quoted part: argv alone cannot tell them.
  const std::string parameters = "TREVALON_INTERNAL_UPDATE_MODE=4 /tmp/a  b\t c \"d  e\" $(touch " +
                                 pwned + ") `touch " + pwned + "`;x|z&&w * $HOME>" + pwned + "  ";
  const intptr_t started = pellora::platform::backend_services().shell->shell_execute(
      "open", bin_dir + "/standin-probe", parameters, 1);
  ::unsetenv("TREVALON_PROBE_REPORT");
  ASSERT_GT(started, 32);
  ASSERT_TRUE(pellora::testing::wait_until([&] { return std::filesystem::exists(report); }));
  const auto probe = pellora::testing::ProbeReport::parse(pellora::testing::read_file(report));
  EXPECT_EQ(probe.value("command_line"), parameters);
  EXPECT_EQ(probe.values("arg"),
            (std::vector<std::string>{"TREVALON_INTERNAL_UPDATE_MODE=4", "/tmp/a", "b", "c", "d  e",
                                      "$(touch", pwned + ")", "`touch", pwned + "`;x|z&&w", "*",
                                      "$HOME>" + pwned}));
  EXPECT_FALSE(std::filesystem::exists(pwned));
}

}  // namespace
