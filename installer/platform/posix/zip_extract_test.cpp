// The common escapes are covered in backend_contract_test.cpp; these are the ones a crafted
// package would try once those are refused.
#include "installer/platform/posix/zip_extract.h"

#include <gtest/gtest.h>

namespace pellora::platform::posix {
namespace {

TEST(PackageEntryPath, DecodesOnceSoAnEscapedEscapeStaysAName) {
  EXPECT_EQ(package_entry_path("%252E%252E/x"), "%2E%2E/x");
  EXPECT_EQ(package_entry_path("caf%C3%A9/%25.txt"), "caf\xC3\xA9/%.txt");
  EXPECT_EQ(package_entry_path("a%zz"), "a%zz");
}

TEST(PackageEntryPath, RefusesEncodedAndBackslashedWaysOut) {
  for (const char* name : {"a%2F..%2F..%2Fx", "a\\..\\..\\x", "\\x", "%5Cx", "c%3A%5Cx", "D:x",
                           "..", "a/..", ".", "./"}) {
    EXPECT_EQ(package_entry_path(name), std::nullopt) << '"' << name << '"';
  }
}

}  // namespace
}  // namespace pellora::platform::posix
