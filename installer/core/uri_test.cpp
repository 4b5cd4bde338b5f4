#include "installer/core/uri.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "tests/support/platform_error.h"

namespace pellora {
namespace {

using pellora::testing::error_code_of;
using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(Uri, SplitsThePartsAndKeepsACanonicalTextForm) {
  const Uri uri("https://user@Example.COM:8443/a/b.exe?x=1&y=2#top");
  EXPECT_EQ(uri.scheme_name(), "https");
  EXPECT_EQ(uri.authority(), "user@example.com:8443");
  EXPECT_EQ(uri.path(), "/a/b.exe");
  EXPECT_EQ(uri.query(), "?x=1&y=2");
  EXPECT_EQ(uri.to_string(), "https://user@example.com:8443/a/b.exe?x=1&y=2#top");

  const Uri custom("trevalon-app:launch?arg=1");
  EXPECT_EQ(custom.scheme_name(), "trevalon-app");
  EXPECT_EQ(custom.authority(), "");
  EXPECT_EQ(custom.path(), "launch");
  EXPECT_EQ(custom.to_string(), "trevalon-app:launch?arg=1");

  // The text form is canonical.
  EXPECT_EQ(Uri("HTTP://Site.Example").to_string(), "http://site.example/");
  EXPECT_EQ(Uri("http://site:80/x").to_string(), "http://site/x");
  EXPECT_EQ(Uri("https://site:443/x").to_string(), "https://site/x");
  EXPECT_EQ(Uri("http://127.0.0.1:8080/a b").to_string(), "http://127.0.0.1:8080/a%20b");
  EXPECT_EQ(Uri("http://[::1]:81/").authority(), "[::1]:81");
}

TEST(Uri, PathsLoseTheirDotSegments) {
  const std::pair<const char*, const char*> cases[] = {
      {"ms-appx:///../../x.exe", "/x.exe"},  // cannot climb above the root
      {"ms-appx:///a/./b/../c.exe", "/a/c.exe"}, {"ms-appx:///a/b/..", "/a/"},
      {"https://site/a/../../b?q=../x", "/b"},   // the query is no path
      {"ms-appx:///..%2Fx.exe", "/..%2Fx.exe"},  // an encoded slash is no separator
  };
  for (const auto& [text, path] : cases) EXPECT_EQ(Uri(text).path(), path) << text;
  EXPECT_EQ(Uri("https://site/a/../b?q=../x").to_string(), "https://site/b?q=../x");
}

TEST(Uri, RejectsWhatIsNotAnAbsoluteUri) {
  for (const char* text :
       {"", "metadata.properties", "/tmp/x", "://x", "1http://x", "ht tp://x", "http:/x", "http://",
        "http://:80/", "http://host:99999/", "http://host:8a/", "http://ho st/"}) {
    EXPECT_EQ(error_code_of([text] { Uri{text}; }), platform::hresult::invalid_arg) << text;
  }
}

TEST(Uri, QueryParsedDecodesFormsInOrder) {
  EXPECT_EQ(
      Uri("http://h/p?b=2&a=1+2&c=%41%2b%zz&&flag&=empty&d=x=y").query_parsed(),
      (Pairs{{"b", "2"}, {"a", "1 2"}, {"c", "A+%zz"}, {"flag", ""}, {"", "empty"}, {"d", "x=y"}}));
  EXPECT_EQ(Uri("http://h/p?a%20b=c#x=1").query_parsed(), (Pairs{{"a b", "c"}}));
  EXPECT_TRUE(Uri("http://h/p").query_parsed().empty());
  EXPECT_TRUE(Uri("http://h/p?").query_parsed().empty());
}

}  // namespace
}  // namespace pellora
