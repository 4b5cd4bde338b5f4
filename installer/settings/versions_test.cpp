#include "installer/settings/versions.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

TEST(Versions, AnyDifferenceInTheTextIsAnUpdate) {
  testing::ScopedFakePlatform fake;
  fake.package.has_identity = true;
  fake.package.version_value = {1, 2, 65535, 4};
  Metadata metadata;
  for (const char* site : {"1.2.65535.5", "1.2.65535.3", "1.2.65535.4 ", "01.2.65535.4"}) {
    metadata.version_quad = site;
    EXPECT_TRUE(update_available(&metadata)) << site;
  }
  metadata.version_quad = "1.2.65535.4";
  EXPECT_FALSE(update_available(&metadata));
  EXPECT_TRUE(fake.debug.contains("Installed version: 1.2.65535.4\n"));
}

TEST(Versions, NoMetadataVersionMeansNoUpdateWithoutAskingForTheInstalledOne) {
  testing::ScopedFakePlatform fake;  // no identity: asking would raise
  Metadata empty;
  EXPECT_FALSE(update_available(nullptr));
  EXPECT_FALSE(update_available(&empty));
  EXPECT_EQ(fake.debug.lines(),
            std::vector<std::string>(2, "Could not determine metadata version, ignoring update\n"));
}

}  // namespace
}  // namespace pellora
