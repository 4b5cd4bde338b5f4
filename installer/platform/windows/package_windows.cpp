// The process's package identity. Whether there is one is a kernel32 question; everything else
// about the package (Package.Current, ApplicationData.Current) is a Windows Runtime class,
// which this backend does not call yet.

#include "installer/platform/windows/services_windows.h"
#include "installer/platform/windows/windows_common.h"

#if defined(_MSC_VER)
#include <appmodel.h>
#else
// kernel32 exports it; the MinGW headers do not declare it.
extern "C" LONG WINAPI GetCurrentPackageFullName(UINT32* packageFullNameLength,
                                                 PWSTR packageFullName);
#endif

namespace pellora::platform::windows {
namespace {

[[noreturn]] void raise_not_available(const char* what) {
  throw PlatformError(hresult::no_package, std::string(what) +
                                               " is not available: this build does not read the "
                                               "package through the Windows Runtime yet.");
}

class WindowsCurrentPackage final : public CurrentPackage {
 public:
  uint32_t get_current_package_full_name_result() override {
    UINT32 length = 0;
    return static_cast<uint32_t>(GetCurrentPackageFullName(&length, nullptr));
  }
  std::string installed_path() override { raise_not_available("The package's installed path"); }
  PackageVersion version() override { raise_not_available("The package's version"); }
  std::string family_name() override { raise_not_available("The package's family name"); }
  std::string local_folder() override { raise_not_available("The package's local folder"); }
  std::string roaming_folder() override { raise_not_available("The package's roaming folder"); }
  std::string local_cache_folder() override {
    raise_not_available("The package's local cache folder");
  }
};

}  // namespace

CurrentPackage* current_package() {
  static WindowsCurrentPackage instance;
  return &instance;
}

}  // namespace pellora::platform::windows
