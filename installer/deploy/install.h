#pragma once

namespace pellora {

// Installs or updates the package from the site's .appinstaller file, with retries.
bool do_install();
// Restarts this program elevated in the current run mode (or reports that the user may not).
void request_install_permission();

}  // namespace pellora
