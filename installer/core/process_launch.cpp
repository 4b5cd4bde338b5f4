#include "installer/core/process_launch.h"

#include "common/error.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

namespace {
// Gives the started program a moment to come up before this process usually exits.
constexpr uint32_t pause_after_launch_ms = 500;
}  // namespace

void launch_process(const std::string& program, const std::string& parameters, bool elevate) {
  // The quotes exist only in the log; the shell gets the path and the parameters separately.
  const std::string command = "\"" + program + "\" " + parameters;
  log_line("Full command: " + command + "\n");
  const char* verb = elevate ? "runas" : "open";
  const intptr_t result =
      platform::services().shell->shell_execute(verb, program, parameters, platform::sw_shownormal);
  if (result <= 32) {
    if (platform::get_last_error() == platform::win32::cancelled) {
      log_line("Installation cancelled by the user, quitting.");
      throw platform::cancelled_error();
    }
    report_error("ShellExecute failed with error: " + last_error_text() + ": full path is " +
                 command);
  }
  // The program runs: closing the window during the pause ends a finished run, not a cancelled
  // one. A flow with more to do marks itself running again.
  set_flow_running(false);
  platform::services().system->sleep_ms(pause_after_launch_ms);
}

std::string package_location() { return platform::services().current_package->installed_path(); }

bool lies_inside_package(const std::string& relative_path) {
  if (relative_path.empty()) return true;
  if (relative_path[0] == '/' || relative_path[0] == '\\') return false;
  if (relative_path.size() >= 2 && relative_path[1] == ':') return false;  // a drive
  size_t start = 0;
  while (start <= relative_path.size()) {
    const size_t end = relative_path.find_first_of("/\\", start);
    const std::string segment =
        relative_path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (segment == "..") return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

bool launch_temp_copy(const std::string& executable, const std::string& copy_name,
                      const std::string& parameters) {
  const std::string location = package_location();
  log_line("Package location: " + location + "\n");
  if (!lies_inside_package(executable)) {
    // Only the package's own files may be copied out and started.
    log_line("Not starting " + executable + ": it lies outside the package's folder.\n");
    return false;
  }
  const std::string source = location + platform::path_separator() + executable;
  log_line("Executable path: " + source + "\n");
  const std::string target = temp_directory() + copy_name;
  log_line("Temporary executable path: " + target + "\n");
  // Overwrite an older copy: it may be from a previous version of the package.
  if (!platform::services().files->copy_file(source, target, false)) {
    report_error("CopyFile failed with error: " + last_error_text());
  }
  launch_process(target, parameters, false);
  return true;
}

}  // namespace pellora
