// The current package through the Runtime under Wine, with the stand-in Runtime registered
// (tests/windows), for a process that does not run from a package: Package.Current fails as it
// does without identity, and ApplicationData answers from the stand-in's own folder. A packaged
// process's answers are checked by the chains of tests/windows/flows_test.sh.

#include <gtest/gtest.h>

#include "common/error.h"
#include "installer/platform/backend.h"
#include "tests/support/platform_error.h"

namespace pellora::platform {
namespace {

TEST(WindowsCurrentPackage, WithoutIdentityThePackageIsARuntimeErrorWithItsCode) {
  CurrentPackage& package = *backend_services().current_package;
  EXPECT_EQ(package.get_current_package_full_name_result(), win32::no_package);
  constexpr uint32_t no_package = 0x80073D54;  // HRESULT_FROM_WIN32(APPMODEL_ERROR_NO_PACKAGE)
  EXPECT_EQ(testing::error_code_of([&] { package.installed_path(); }), no_package);
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
