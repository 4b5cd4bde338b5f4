#pragma once

namespace pellora {

// The installer's entry point: parses the run mode, creates the window, starts main_flow on a
// worker thread and runs the message loop. Returns the process exit code.
int installer_main(int argc, char** argv);

}  // namespace pellora
