#pragma once
// The package this process runs from (Package.Current) and its data folders
// (ApplicationData.Current).

#include <cstdint>
#include <string>

namespace pellora::platform {

struct PackageVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;
};

class CurrentPackage {
 public:
  virtual ~CurrentPackage() = default;
  // GetCurrentPackageFullName(length 0, no buffer): its Win32 result; 15700
  // (APPMODEL_ERROR_NO_PACKAGE) when the process has no package identity.
  virtual uint32_t get_current_package_full_name_result() = 0;
  // Package.Current: InstalledPath, Id.Version, Id.FamilyName. Raise PlatformError without
  // package identity.
  virtual std::string installed_path() = 0;
  virtual PackageVersion version() = 0;
  virtual std::string family_name() = 0;
  // ApplicationData.Current: LocalFolder, RoamingFolder, LocalCacheFolder paths. Raise
  // PlatformError without package identity.
  virtual std::string local_folder() = 0;
  virtual std::string roaming_folder() = 0;
  virtual std::string local_cache_folder() = 0;
};

}  // namespace pellora::platform
