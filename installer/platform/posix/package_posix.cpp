// Package identity: a process runs as a package when its executable's real path lies inside
// the folder of an installed (registered) package.

#include <unistd.h>

#include "common/error.h"
#include "installer/platform/backend.h"
#include "installer/platform/posix/services_posix.h"
#include "standin/package_identity.h"
#include "standin/package_store.h"
#include "standin/platform_root.h"

namespace pellora::platform::posix {
namespace {

using standin::Registration;

// A process's package identity is fixed when it starts, as on Windows: the backend's services
// are made at start-up, and with them this answer.
const std::optional<Registration>& identity() {
  static const std::optional<Registration> registration = standin::current_process_package();
  return registration;
}

Registration require_registration() {
  const std::optional<Registration>& registration = identity();
  if (!registration) {
    throw PlatformError(hresult::no_package, "The process has no package identity.");
  }
  return *registration;
}

std::string data_subfolder(const char* name) {
  const std::string path =
      standin::family_data_folder(require_registration().family_name) + "/" + name;
  // Windows creates the folders at registration; a folder removed since is made again.
  standin::make_directories(path);
  return path;
}

class PosixCurrentPackage final : public CurrentPackage {
 public:
  uint32_t get_current_package_full_name_result() override {
    // With a zero length and no buffer, a packaged process learns the length it needs.
    return identity() ? win32::insufficient_buffer : win32::no_package;
  }

  std::string installed_path() override {
    return standin::installed_folder(require_registration().full_name);
  }

  PackageVersion version() override {
    const Registration registration = require_registration();
    const auto parts = standin::parse_package_version(registration.identity.version);
    if (!parts) throw PlatformError(hresult::fail, "The package's version is not valid.");
    return PackageVersion{(*parts)[0], (*parts)[1], (*parts)[2], (*parts)[3]};
  }

  std::string family_name() override { return require_registration().family_name; }

  std::string local_folder() override { return data_subfolder("LocalState"); }
  std::string roaming_folder() override { return data_subfolder("RoamingState"); }
  std::string local_cache_folder() override { return data_subfolder("LocalCache"); }
};

}  // namespace

CurrentPackage* current_package() {
  identity();
  static PosixCurrentPackage instance;
  return &instance;
}

}  // namespace pellora::platform::posix
