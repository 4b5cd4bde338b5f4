#pragma once
// Creates the application's JVM in this process and runs its main class.

#include <string>
#include <vector>

#include "launcher/config.h"
#include "launcher/platform/platform.h"

namespace launcher {

// Creates the JVM, hands the main class to the application's launcher class, runs the main
// method it selects and ends the process: 0 after a clean shutdown, 1 after any failure (or
// whatever code the Java side exits with). Call it on the thread that is to own the JVM.
// `command_line_args` excludes the program path.
[[noreturn]] void run_jvm(const LauncherConfig& config,
                          const std::vector<std::string>& command_line_args,
                          platform::Platform& platform);

}  // namespace launcher
