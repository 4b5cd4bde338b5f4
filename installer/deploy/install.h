#pragma once

namespace pellora {

// How do_install ended when it returns; a failure it cannot get past ends in report_error.
enum class InstallOutcome {
  installed,                // the package is in place (or a newer version already was)
  not_installed,            // a certificate step failed, and has been reported
  handed_to_elevated_copy,  // access denied: an elevated copy repeats the run mode
};

// Installs or updates the package from the site's .appinstaller file, with retries.
InstallOutcome do_install();
// Restarts this program elevated in the current run mode (or reports that the user may not).
void request_install_permission();

}  // namespace pellora
