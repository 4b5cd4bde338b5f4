// The stand-in's readers of what packages and certificates carry: entry names, publisher names
// and versions.

#include <gtest/gtest.h>

#include "standin/certificates.h"
#include "standin/package_identity.h"
#include "standin/zip_extract.h"

namespace standin {
namespace {

TEST(PackageEntryPath, DecodesNamesOnceAndRefusesEveryWayOut) {
  EXPECT_EQ(package_entry_path("data/My%20File.txt"), "data/My File.txt");
  EXPECT_EQ(package_entry_path("a/./b"), "a/b");
  EXPECT_EQ(package_entry_path("folder/"), "folder/");
  EXPECT_EQ(package_entry_path("100%"), "100%");
  EXPECT_EQ(package_entry_path("%252E%252E/x"), "%2E%2E/x");  // an escaped escape stays a name
  EXPECT_EQ(package_entry_path("caf%C3%A9/%25.txt"), "caf\xC3\xA9/%.txt");
  EXPECT_EQ(package_entry_path("a%zz"), "a%zz");
  for (const std::string name : {"../x", "a/../../x", "%2E%2E/x", "..%2Fx", "/etc/passwd",
                                 "%2Fetc/passwd", "..\\x", "C:/x", "a%00b", ""}) {
    EXPECT_FALSE(package_entry_path(name)) << name;
  }
  for (const std::string name : {"a%2F..%2F..%2Fx", "a\\..\\..\\x", "\\x", "%5Cx", "c%3A%5Cx",
                                 "D:x", "..", "a/..", ".", "./"}) {
    EXPECT_FALSE(package_entry_path(name)) << '"' << name << '"';
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
}  // namespace standin
