#pragma once
// The launcher's entry function: console, environment, then the JVM on its own thread.

#include <string>
#include <vector>

#include "launcher/config.h"

namespace launcher {

// Runs the start-up sequence with the burned-in `config` and the command-line arguments after
// the program path. Does not return while the JVM runs: the JVM's thread ends the process.
int run_launcher(const LauncherConfig& config, const std::vector<std::string>& arguments);

}  // namespace launcher
