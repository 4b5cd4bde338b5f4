#include "installer/platform/posix/http_rules.h"

#include <gtest/gtest.h>

namespace pellora::platform::posix {
namespace {

TEST(HttpRules, OnlyAFollowedRedirectFromHttpsToHttpIsRefused) {
  struct Case {
    long status;
    const char* current;
    const char* location;
    bool refused;
  };
  const Case cases[] = {
      {302, "https://site.test/a", " http://elsewhere/b", true},
      {301, "HTTPS://site.test/a", "HTTP://elsewhere/b", true},
      {302, "https://site.test/a", "https://elsewhere/b", false},
      {302, "https://site.test/a", "/b", false},  // relative: stays https
      {302, "http://site.test/a", "http://elsewhere/b", false},
      {200, "https://site.test/a", "http://elsewhere/b", false},  // not a redirect
      {304, "https://site.test/a", "http://elsewhere/b", false},  // never followed
  };
  for (const Case& each : cases) {
    EXPECT_EQ(refuses_redirect(each.status, each.current, each.location), each.refused)
        << each.status << " " << each.current << " -> " << each.location;
  }
}

}  // namespace
}  // namespace pellora::platform::posix
