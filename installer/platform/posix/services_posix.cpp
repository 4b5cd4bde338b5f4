#include "installer/platform/posix/services_posix.h"

#include "installer/platform/backend.h"

namespace pellora::platform {

Services backend_services() {
  Services s;
  s.debug = posix::debug_output();
  s.system = posix::system();
  s.files = posix::files();
  s.shell = posix::shell();
  s.http = posix::http();
  s.packages = posix::package_manager();
  s.current_package = posix::current_package();
  s.clipboard = posix::clipboard();
  s.window = posix::window_surface();
  s.crypto = posix::crypto();
  return s;
}

}  // namespace pellora::platform
