#pragma once
// The launcher's entry function: console, environment, then the JVM on its own thread.

#include "launcher/config.h"

namespace launcher {

// Runs the start-up sequence with the burned-in `config` and the process's arguments. Does
// not return while the JVM runs: the JVM's thread ends the process.
int launcher_main(const LauncherConfig& config, int argc, char** argv);

}  // namespace launcher
