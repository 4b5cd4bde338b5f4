#include "standin/publisher_id.h"

#include <gtest/gtest.h>

namespace standin {
namespace {

TEST(PublisherId, MatchesTheIdWindowsGivesAKnownPublisher) {
  EXPECT_EQ(publisher_id("CN=Microsoft Corporation, O=Microsoft Corporation, L=Redmond, "
                         "S=Washington, C=US"),
            "8wekyb3d8bbwe");
}

TEST(PublisherId, IsThirteenCharactersOfTheAlphabetEndingInAnEvenDigit) {
  for (const std::string publisher : {"CN=a", "CN=\xC3\xA9t\xC3\xA9", "CN=\xF0\x9F\x98\x80", ""}) {
    const std::string id = publisher_id(publisher);
    ASSERT_EQ(id.size(), 13u);
    for (char c : id) {
      EXPECT_NE(std::string("0123456789abcdefghjkmnpqrstvwxyz").find(c), std::string::npos);
    }
    // The 65th bit is zero, so the last character has an even index in the alphabet.
    EXPECT_EQ(std::string("0123456789abcdefghjkmnpqrstvwxyz").find(id.back()) % 2, 0u);
  }
  EXPECT_NE(publisher_id("CN=a"), publisher_id("CN=A"));
}

TEST(PublisherId, NamesPackagesAsWindowsDoes) {
  const std::string publisher =
      "CN=Microsoft Corporation, O=Microsoft Corporation, L=Redmond, S=Washington, C=US";
  EXPECT_EQ(package_full_name("App", "1.2.3.4", "arm64", "", publisher),
            "App_1.2.3.4_arm64__8wekyb3d8bbwe");
  EXPECT_EQ(package_family_name("App", publisher), "App_8wekyb3d8bbwe");
}

}  // namespace
}  // namespace standin
