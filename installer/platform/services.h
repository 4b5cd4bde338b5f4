#pragma once
// The platform services the installer's core uses. The entry point installs the backend's
// (installer/platform/backend.h) at start-up; tests put fakes in their place.

#include "common/deployment.h"
#include "installer/platform/clipboard.h"
#include "installer/platform/crypto.h"
#include "installer/platform/debug_output.h"
#include "installer/platform/files.h"
#include "installer/platform/http.h"
#include "installer/platform/package.h"
#include "installer/platform/shell.h"
#include "installer/platform/system.h"
#include "installer/platform/window_surface.h"

namespace pellora::platform {

struct Services {
  DebugOutput* debug = nullptr;
  System* system = nullptr;
  Files* files = nullptr;
  Shell* shell = nullptr;
  Http* http = nullptr;
  PackageManager* packages = nullptr;
  CurrentPackage* current_package = nullptr;
  Clipboard* clipboard = nullptr;
  WindowSurface* window = nullptr;
  Crypto* crypto = nullptr;
};

// The services in force. Set once before any worker starts (or by a test), then only read.
Services& services();

// The System calls the core makes most, through the services in force.
inline std::string path_separator() { return services().system->path_separator(); }
inline uint32_t get_last_error() { return services().system->last_error(); }
inline void set_last_error(uint32_t code) { services().system->set_last_error(code); }
inline std::string format_message(uint32_t code) { return services().system->format_message(code); }

}  // namespace pellora::platform
