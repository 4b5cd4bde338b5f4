#pragma once
#include <string>

namespace pellora {

// Starts a program through the shell ("runas" when elevate), then pauses 500 ms. Raises the
// cancellation error when the user refuses elevation; other failures end in report_error.
void launch_process(const std::string& program, const std::string& parameters, bool elevate);
// The installed folder of the package this process runs from. Raises PlatformError without
// package identity.
std::string package_location();
// Copies `executable` (relative to the package folder) into temp_directory() as `copy_name` and
// starts the copy with `parameters`. False, after a log line, when the path leads out of the
// package's folder: nothing is copied or started then.
bool launch_temp_copy(const std::string& executable, const std::string& copy_name,
                      const std::string& parameters);
// Whether a path relative to the package's folder stays inside it (either separator counts).
bool lies_inside_package(const std::string& relative_path);

}  // namespace pellora
