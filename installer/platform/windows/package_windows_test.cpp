// The current package through the Runtime under Wine, whose processes never have package
// identity, with the stand-in Runtime registered (tests/windows): it answers ApplicationData
// from its own folder and leaves Package unregistered, as a process without identity finds it.

#include <gtest/gtest.h>

#include "common/error.h"
#include "installer/platform/backend.h"
#include "tests/support/platform_error.h"

namespace pellora::platform {
namespace {

TEST(WindowsCurrentPackage, WithoutIdentityThePackageIsARuntimeErrorWithItsCode) {
  CurrentPackage& package = *backend_services().current_package;
  EXPECT_EQ(package.get_current_package_full_name_result(), win32::no_package);
  constexpr uint32_t class_not_registered = 0x80040154;
  EXPECT_EQ(testing::error_code_of([&] { package.installed_path(); }), class_not_registered);
  EXPECT_THROW(package.family_name(), PlatformError);
}

TEST(WindowsCurrentPackage, DataFoldersArePathsOfApplicationDataCurrent) {
  CurrentPackage& package = *backend_services().current_package;
  EXPECT_EQ(package.local_folder(), "C:\\trevalon-standin\\LocalState");
  EXPECT_EQ(package.roaming_folder(), "C:\\trevalon-standin\\RoamingState");
  EXPECT_EQ(package.local_cache_folder(), "C:\\trevalon-standin\\LocalCache");
}

}  // namespace
}  // namespace pellora::platform
