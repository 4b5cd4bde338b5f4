// The package deployment service is the stand-in's simulated store (standin/deployment.h). It
// lives in a module of its own, loaded when the first deployment starts: its libraries (libzip,
// pugixml, OpenSSL) would otherwise be mapped by every start of the installed application,
// which deploys nothing.

#include <dlfcn.h>

#include <string>

#include "common/error.h"
#include "installer/platform/posix/services_posix.h"

namespace pellora::platform::posix {
namespace {

constexpr const char* module_name = "libtrevalon-standin-deployment.so";
constexpr const char* factory_name = "trevalon_standin_package_manager";

PackageManager* load_service() {
  // Copies of the program run from anywhere (a package folder, the temporary folder): the
  // module is looked for where the build put it, then on the library path. Never closed: its
  // operations run on threads of their own.
  void* module = ::dlopen((std::string(TREVALON_STANDIN_MODULE_DIR "/") + module_name).c_str(),
                          RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) module = ::dlopen(module_name, RTLD_NOW | RTLD_LOCAL);
  void* factory = module != nullptr ? ::dlsym(module, factory_name) : nullptr;
  if (factory == nullptr) {
    const char* detail = ::dlerror();
    throw PlatformError(hresult::fail, std::string("The package deployment service could not be "
                                                   "loaded: ") +
                                           (detail != nullptr ? detail : module_name));
  }
  return reinterpret_cast<PackageManager* (*)()>(factory)();
}

class LoadedOnFirstUse final : public PackageManager {
 public:
  std::string get_default_package_volume() override {
    return service().get_default_package_volume();
  }
  std::shared_ptr<DeploymentOperation> add_package_by_app_installer_file(
      const std::string& uri, uint32_t options, const std::string& volume) override {
    return service().add_package_by_app_installer_file(uri, options, volume);
  }
  std::shared_ptr<DeploymentOperation> remove_package(const std::string& full_name) override {
    return service().remove_package(full_name);
  }

 private:
  static PackageManager& service() {
    // A throw leaves the static uninitialised, so a later call tries again.
    static PackageManager* const loaded = load_service();
    return *loaded;
  }
};

}  // namespace

PackageManager* package_manager() {
  static LoadedOnFirstUse instance;
  return &instance;
}

}  // namespace pellora::platform::posix
