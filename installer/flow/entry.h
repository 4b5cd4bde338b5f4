#pragma once
#include <string>

namespace pellora {

// The start-up every run shares, whatever its work, on the services in force: reads the run mode
// from `command_line` (the text after the program name), creates the progress window hidden,
// starts `flow` on a worker thread and runs the window's message loop on the calling thread.
// Returns the process exit code; normally the flow ends the process first.
int run_installer(const std::string& command_line, void (*flow)());

// Starts `flow` on a worker thread, marked as running for the window's close; a failure to start
// it ends in the error box.
void start_flow(void (*flow)());

}  // namespace pellora
