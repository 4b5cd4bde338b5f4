#include "installer/platform/windows/services_windows.h"

#include "installer/platform/backend.h"

namespace pellora::platform {

Services backend_services() {
  Services s;
  s.debug = windows::debug_output();
  s.system = windows::system();
  s.files = windows::files();
  s.shell = windows::shell();
  s.http = windows::http();
  s.packages = windows::package_manager();
  s.current_package = windows::current_package();
  s.clipboard = windows::clipboard();
  s.window = windows::window_surface();
  s.crypto = windows::crypto();
  return s;
}

}  // namespace pellora::platform
