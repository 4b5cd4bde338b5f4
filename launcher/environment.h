#pragma once
// Publishes the application's data folders and HOME in the process environment, before the
// JVM exists, so that the JVM and everything it starts inherit them.

#include <string>

#include "launcher/config.h"
#include "launcher/platform/platform.h"

namespace launcher {

// Looks `folder` up in the given mode and sets `name` to the path. A folder without a
// redirection target is logged to the debugger output; any other failure is shown in an
// error box; in both cases `name` keeps its value.
void set_known_folder_variable(platform::Platform& platform, platform::KnownFolder folder,
                               const std::string& name, bool redirected);

// The four (six with override_appdata_vars) known-folder variables, then HOME from
// USERPROFILE.
void prepare_environment(const LauncherConfig& config, platform::Platform& platform);

}  // namespace launcher
