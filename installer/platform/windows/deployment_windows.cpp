// Package deployment goes through the Windows Runtime's PackageManager, which this backend does
// not call yet: every request fails at once with a platform error that says so.

#include "installer/platform/error.h"
#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

constexpr uint32_t not_implemented = 0x80004001;  // E_NOTIMPL

[[noreturn]] void raise_not_available() {
  throw PlatformError(not_implemented,
                      "Package deployment is not available: this build does not call the "
                      "Windows Runtime's package manager yet.");
}

class WindowsPackageManager final : public PackageManager {
 public:
  std::string get_default_package_volume() override { raise_not_available(); }
  std::shared_ptr<DeploymentOperation> add_package_by_app_installer_file(
      const std::string&, uint32_t, const std::string&) override {
    raise_not_available();
  }
  std::shared_ptr<DeploymentOperation> remove_package(const std::string&) override {
    raise_not_available();
  }
};

}  // namespace

PackageManager* package_manager() {
  static WindowsPackageManager instance;
  return &instance;
}

}  // namespace pellora::platform::windows
