#include "installer/settings/versions.h"

#include <sstream>

#include "installer/core/diagnostics.h"
#include "installer/platform/services.h"

namespace pellora {

std::string installed_version() {
  const platform::PackageVersion version = platform::services().current_package->version();
  std::ostringstream text;
  text << version.major << "." << version.minor << "." << version.build << "." << version.revision;
  return text.str();
}

bool update_available(const Metadata* metadata) {
  if (metadata == nullptr || metadata->version_quad.empty()) {
    log_line("Could not determine metadata version, ignoring update\n");
    return false;
  }
  const std::string installed = installed_version();
  log_line("Installed version: " + installed + "\n");
  log_line("Metadata version: " + metadata->version_quad + "\n");
  return installed != metadata->version_quad;
}

}  // namespace pellora
