// The stand-in's services against the contract of the Windows services they replace, in
// process: failures that need no site or package (those are the end-to-end tests' part).

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "installer/platform/error.h"
#include "installer/platform/last_error.h"
#include "installer/platform/posix/backend.h"
#include "installer/platform/posix/certificates.h"
#include "installer/platform/posix/manifest.h"
#include "installer/platform/posix/package_store.h"
#include "installer/platform/posix/platform_root.h"
#include "installer/platform/posix/zip_extract.h"

namespace pellora::platform::posix {
namespace {

namespace fs = std::filesystem;

class BackendContract : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/standin-contract-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("TREVALON_PLATFORM_ROOT", root_.c_str(), 1);
    unsetenv("TREVALON_PLATFORM_ELEVATION");
  }
  void TearDown() override {
    unsetenv("TREVALON_PLATFORM_ROOT");
    unsetenv("TREVALON_PLATFORM_ELEVATION");
    fs::remove_all(root_);
  }

  intptr_t open(const std::string& file, const std::string& verb = "open") {
    set_last_error(0);
    return shell()->shell_execute(verb, file, "", sw_shownormal);
  }

  std::string root_;
};

TEST_F(BackendContract, ShellFailuresCarryTheWindowsLastError) {
  EXPECT_LE(open(root_ + "/missing"), 32);
  EXPECT_EQ(get_last_error(), win32::file_not_found);
  EXPECT_LE(open("no-such-program-anywhere"), 32);
  EXPECT_EQ(get_last_error(), win32::file_not_found);

  const std::string text = root_ + "/notes.txt";
  std::ofstream(text) << "not a program";
  EXPECT_LE(open(text), 32);
  EXPECT_EQ(get_last_error(), win32::access_denied);
  EXPECT_LE(open(root_), 32);  // a folder
  EXPECT_EQ(get_last_error(), win32::access_denied);

  EXPECT_LE(open("unregistered-scheme:anything"), 32);
  EXPECT_EQ(get_last_error(), win32::no_association);
  EXPECT_LE(open("/bin/true", "edit"), 32);
  EXPECT_EQ(get_last_error(), win32::no_association);
}

TEST_F(BackendContract, ShellFindsBareNamesOnThePathAndHonoursRefusedElevation) {
  EXPECT_GT(open("true"), 32);
  EXPECT_GT(open("true", "runas"), 32);
  setenv("TREVALON_PLATFORM_ELEVATION", "refuse", 1);
  EXPECT_LE(open("true", "runas"), 32);
  EXPECT_EQ(get_last_error(), win32::cancelled);
  EXPECT_GT(open("true"), 32);  // only elevation is refused
}

TEST_F(BackendContract, WithoutIdentityThePackageServicesAnswerNoPackage) {
  CurrentPackage* package = current_package();
  EXPECT_EQ(package->get_current_package_full_name_result(), win32::no_package);
  try {
    package->installed_path();
    FAIL() << "no error without identity";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.code(), hresult::no_package);
  }
  EXPECT_THROW(package->local_folder(), PlatformError);
  EXPECT_THROW(package->version(), PlatformError);
}

TEST(PackageEntryPath, DecodesNamesAndRefusesEscapes) {
  EXPECT_EQ(package_entry_path("data/My%20File.txt"), "data/My File.txt");
  EXPECT_EQ(package_entry_path("a/./b"), "a/b");
  EXPECT_EQ(package_entry_path("folder/"), "folder/");
  EXPECT_EQ(package_entry_path("100%"), "100%");
  for (const std::string name : {"../x", "a/../../x", "%2E%2E/x", "..%2Fx", "/etc/passwd",
                                 "%2Fetc/passwd", "..\\x", "C:/x", "a%00b", ""}) {
    EXPECT_FALSE(package_entry_path(name)) << name;
  }
}

TEST(DistinguishedNames, ReadAsWindowsWritesThem) {
  const auto name =
      parse_distinguished_name("CN=\"Doe, John\", O=\"A \"\"B\"\"\", ST=Rh\xC3\xB4ne, C=FR");
  ASSERT_TRUE(name);
  EXPECT_EQ(*name, (std::vector<NameAttribute>{
                       {"CN", "Doe, John"}, {"O", "A \"B\""}, {"S", "Rh\xC3\xB4ne"}, {"C", "FR"}}));
  EXPECT_FALSE(parse_distinguished_name("not a name"));
  EXPECT_FALSE(parse_distinguished_name("CN=\"unterminated"));

  // A certificate built from a name reads back as the same name, most specific first.
  X509Pointer certificate(X509_new());
  ASSERT_TRUE(fill_x509_name(X509_get_subject_name(certificate.get()), *name));
  EXPECT_EQ(certificate_subject(certificate.get()), *name);
}

TEST(Manifests, VersionsHaveFourPartsOfSixteenBits) {
  EXPECT_EQ(parse_package_version("1.2.3.65535"), (std::array<uint16_t, 4>{1, 2, 3, 65535}));
  for (const std::string text : {"1.2.3", "1.2.3.4.5", "1.2.3.65536", "1.2.3.x", "", "1..2.3"}) {
    EXPECT_FALSE(parse_package_version(text)) << text;
  }
}

}  // namespace
}  // namespace pellora::platform::posix
