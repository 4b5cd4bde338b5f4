#pragma once
// The Windows backend's services, one factory per service. Each lives for the whole process.
// Only this folder uses them; everything else goes through backend_services().

#include "installer/platform/services.h"

namespace pellora::platform::windows {

DebugOutput* debug_output();
System* system();
Files* files();
Shell* shell();
Http* http();
PackageManager* package_manager();
CurrentPackage* current_package();
Clipboard* clipboard();
WindowSurface* window_surface();
Crypto* crypto();

}  // namespace pellora::platform::windows
