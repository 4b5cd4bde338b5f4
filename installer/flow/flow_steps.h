#pragma once
// Steps that more than one run mode takes. Flow threads only.

#include "installer/core/state.h"

namespace pellora {

// The packaged start: the application, the metadata, the escape hatch and the update decision;
// ends the process.
[[noreturn]] void after_launch_steps();

// Installs, then opens the launch URI in `next_mode` and ends the process (at once when an
// elevated copy took the install over). Returns only when nothing was installed.
void install_then_open_launch_uri(RunMode next_mode);

// The reinstall run mode: backs the data up, removes the package and hands over to the site's
// installer. Returns only when the removal yielded false.
void reinstall();
// The restore_backup run mode: restores a backup from a packaged run, or installs first.
void restore_backup();
// Before the application is started: restores complete backups that a reinstall left
// waiting (the site's installer run by hand after a reinstall failed, a restore that failed
// before). Once per process; a failure is kept for report_restore_failure.
void restore_pending_backups();
// After the application has been started: the error box for a restore that left data behind.
void report_restore_failure();
// Forgets both, for the next test.
void reset_restore_state_for_tests();

}  // namespace pellora
