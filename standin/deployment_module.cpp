// The deployment service as a loadable module: the POSIX backend loads it when the first
// deployment starts (installer/platform/posix/deployment_posix.cpp).

#include "standin/deployment.h"

extern "C" __attribute__((visibility("default"))) pellora::platform::PackageManager*
trevalon_standin_package_manager() {
  return standin::package_manager();
}
