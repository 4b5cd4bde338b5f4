// The process's package identity. Whether there is one is a kernel32 question; what the package
// is (Package.Current) and where its data live (ApplicationData.Current) are Windows Runtime
// classes, called through the ABI declared in runtime/.

#include <mutex>

#include "common/windows_runtime/application_model.h"
#include "installer/platform/windows/runtime_windows.h"
#include "installer/platform/windows/services_windows.h"

#if defined(_MSC_VER)
#include <appmodel.h>
#else
// kernel32 exports it; the MinGW headers do not declare it. Called through its import pointer,
// as the SDK's declaration does.
extern "C" __declspec(dllimport) LONG WINAPI
    GetCurrentPackageFullName(UINT32* packageFullNameLength, PWSTR packageFullName);
#endif

namespace pellora::platform::windows {
namespace {

using runtime::ComPtr;

std::string path_of(const ComPtr<runtime::IStorageFolder>& folder) {
  runtime::HString path;
  check(query<runtime::IStorageItem>(folder)->get_Path(path.put()));
  return to_utf8(path);
}

class RuntimeCurrentPackage final : public CurrentPackage {
 public:
  uint32_t get_current_package_full_name_result() override {
    UINT32 length = 0;
    return static_cast<uint32_t>(GetCurrentPackageFullName(&length, nullptr));
  }

  std::string installed_path() override {
    ComPtr<runtime::IStorageFolder> folder;
    check(current()->get_InstalledLocation(folder.put()));
    return path_of(folder);
  }

  PackageVersion version() override {
    runtime::PackageVersion version{};
    check(id()->get_Version(&version));
    return PackageVersion{version.major, version.minor, version.build, version.revision};
  }

  std::string family_name() override {
    runtime::HString name;
    check(id()->get_FamilyName(name.put()));
    return to_utf8(name);
  }

  std::string local_folder() override {
    ComPtr<runtime::IStorageFolder> folder;
    check(application_data()->get_LocalFolder(folder.put()));
    return path_of(folder);
  }

  std::string roaming_folder() override {
    ComPtr<runtime::IStorageFolder> folder;
    check(application_data()->get_RoamingFolder(folder.put()));
    return path_of(folder);
  }

  std::string local_cache_folder() override {
    ComPtr<runtime::IStorageFolder> folder;
    check(
        query<runtime::IApplicationData2>(application_data())->get_LocalCacheFolder(folder.put()));
    return path_of(folder);
  }

 private:
  // The statics are fetched once and kept; a failure leaves them to be fetched again.
  ComPtr<runtime::IPackage> current() {
    ComPtr<runtime::IPackageStatics> statics;
    {
      std::lock_guard lock(mutex_);
      if (!package_statics_) {
        package_statics_ = activation_factory<runtime::IPackageStatics>(runtime::package_class);
      }
      statics = package_statics_;
    }
    ComPtr<runtime::IPackage> package;
    check(statics->get_Current(package.put()));
    return package;
  }

  ComPtr<runtime::IPackageId> id() {
    ComPtr<runtime::IPackageId> id;
    check(current()->get_Id(id.put()));
    return id;
  }

  ComPtr<runtime::IApplicationData> application_data() {
    ComPtr<runtime::IApplicationData> data;
    check(activation_factory<runtime::IApplicationDataStatics>(runtime::application_data_class)
              ->get_Current(data.put()));
    return data;
  }

  std::mutex mutex_;
  ComPtr<runtime::IPackageStatics> package_statics_;
};

}  // namespace

CurrentPackage* current_package() {
  static RuntimeCurrentPackage instance;
  return &instance;
}

}  // namespace pellora::platform::windows
