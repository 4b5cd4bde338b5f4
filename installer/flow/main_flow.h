#pragma once

namespace pellora {

// True when the process runs with package identity.
bool has_package_identity();

// The program's work for the run mode in update_mode. Runs on a worker thread and normally ends
// the process itself (ExitCode).
void main_flow();

}  // namespace pellora
