#include "installer/settings/metadata.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/site_signature.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using Map = std::map<std::string, std::string>;

TEST(ParseProperties, SeparatorsAndKeys) {
  EXPECT_EQ(parse_properties("a=b\n"), (Map{{"a", "b"}}));
  EXPECT_EQ(parse_properties("a : b"), (Map{{"a", "b"}}));
  EXPECT_EQ(parse_properties("a b"), (Map{{"a", "b"}}));
  EXPECT_EQ(parse_properties("a=b=c"), (Map{{"a", "b=c"}}));
  EXPECT_EQ(parse_properties("a\t\f:\t x"), (Map{{"a", "x"}}));
  EXPECT_EQ(parse_properties("lonely"), (Map{{"lonely", ""}}));
  EXPECT_EQ(parse_properties("=v"), (Map{{"", "v"}}));
  EXPECT_EQ(parse_properties("a = = b"), (Map{{"a", "= b"}}));
  // The escape is gone before the split, so the escaped "=" separates.
  EXPECT_EQ(parse_properties("a\\=b=c"), (Map{{"a", "b=c"}}));
}

TEST(ParseProperties, LinesCommentsAndWhiteSpace) {
  EXPECT_EQ(parse_properties("# c\n! c\n\n   \n  \tk=v  \t\n"), (Map{{"k", "v  \t"}}));
  EXPECT_EQ(parse_properties("a=1\r\nb=2\r\n"), parse_properties("a=1\nb=2\n"));
  EXPECT_EQ(parse_properties("k=1\nk=2\n"), (Map{{"k", "2"}}));
  EXPECT_EQ(parse_properties(""), Map{});
}

TEST(ParseProperties, Continuations) {
  EXPECT_EQ(parse_properties("x=one\\\n   two\ny=3"), (Map{{"x", "onetwo"}, {"y", "3"}}));
  // A continuation line is not checked for comments or emptiness.
  EXPECT_EQ(parse_properties("x=a\\\n#b\\\n\nk=v"), (Map{{"x", "a#b"}, {"k", "v"}}));
  EXPECT_EQ(parse_properties("x=end\\"), (Map{{"x", "end"}}));
  EXPECT_EQ(parse_properties("x=end\\\n"), (Map{{"x", "end"}}));
  // An escaped backslash at the end does not continue.
  EXPECT_EQ(parse_properties("x=a\\\\\ny=b"), (Map{{"x", "a\\"}, {"y", "b"}}));
}

TEST(UnescapePropertiesLine, EscapesAndUnicode) {
  const struct {
    std::string line;
    std::string unescaped;
    bool continues;
  } cases[] = {
      {"a\\:\\=\\\\\\n\\r\\t\\q", "a:=\\\n\r\tq", false},
      {"\\u0041\\u00e9\\u20ac.", "A\xE9.", false},
      {"\\u12", "u12", false},  // fewer than four characters left
      // White space, prefix and an early stop, as the integer conversion does.
      {"\\u 0x4!", std::string(1, '\x04') + "!", false},
      {"\\u-001", "\xFF", false},
      {"tail\\", "tail", true},
  };
  for (const auto& c : cases) {
    std::string line = c.line;
    EXPECT_EQ(unescape_properties_line(line), c.continues) << c.line;
    EXPECT_EQ(line, c.unescaped) << c.line;
  }
}

class FetchMetadata : public ::testing::Test {
 protected:
  FetchMetadata() {
    fake.services().http = &http;
    burned_in_settings.site_base_url = "http://site.example/app/";
  }
  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
  const std::string url = "http://site.example/app/metadata.properties";
};

TEST_F(FetchMetadata, FillsTheRecordAndLogsEveryStep) {
  http.serve(url,
             "app.windows.manifests.version-quad=1.2.3.4 \n"
             "windows.package-family-name=App_abc\n"
             "windows.exe-installer-name=setup.exe\n"
             "windows.site-base-url=https://next.example/\n"
             "app.windows.manifests.msix.update-escape-hatch.exe=rescue.exe\n"
             "app.windows.manifests.msix.update-escape-hatch.run-if=not-up-to-date\n"
             "zz.unknown=1\n");
  const auto metadata = fetch_metadata();
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->version_quad, "1.2.3.4 ");
  EXPECT_EQ(metadata->package_family_name, "App_abc");
  EXPECT_EQ(metadata->exe_installer_name, "setup.exe");
  EXPECT_EQ(metadata->site_base_url, "https://next.example/");
  EXPECT_EQ(metadata->escape_hatch_exe, "rescue.exe");
  EXPECT_EQ(metadata->escape_hatch_run_if, EscapeHatchRunIf::not_up_to_date);
  EXPECT_EQ(http.requests, std::vector<std::string>{url});

  const auto lines = fake.debug.lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Downloading metadata...");
  EXPECT_EQ(lines[1].rfind("The site is not verified", 0), 0u);
  EXPECT_EQ(lines[2].rfind("Metadata:\napp.windows.manifests.version-quad=1.2.3.4 \n", 0), 0u);
  EXPECT_EQ(lines[3], "Parsed metadata:");
  EXPECT_EQ(lines[4], "app.windows.manifests.msix.update-escape-hatch.exe = rescue.exe\n");
  EXPECT_EQ(lines.back(), "zz.unknown = 1\n");
}

TEST_F(FetchMetadata, RunIfNeedsTheExeAndAnExactText) {
  const std::string exe = "app.windows.manifests.msix.update-escape-hatch.exe=r.exe\n";
  const std::tuple<std::string, const char*, EscapeHatchRunIf> cases[] = {
      {"", "always", EscapeHatchRunIf::unknown},  // no exe
      {exe, "always", EscapeHatchRunIf::always},
      {exe, "package-family-changed", EscapeHatchRunIf::package_family_changed},
      {exe, "reinstall-required", EscapeHatchRunIf::reinstall_required},
      {exe, "ALWAYS", EscapeHatchRunIf::unknown},
      {exe, "always ", EscapeHatchRunIf::unknown},
  };
  for (const auto& [before, text, expected] : cases) {
    http.serve(url, before + "app.windows.manifests.msix.update-escape-hatch.run-if=" + text);
    EXPECT_EQ(fetch_metadata()->escape_hatch_run_if, expected) << before << text;
  }
  http.serve(url, "");  // an empty file gives an empty record
  EXPECT_EQ(fetch_metadata()->version_quad, "");
}

TEST_F(FetchMetadata, FailuresGiveNothing) {
  http.fail(url, platform::PlatformError(platform::hresult::cannot_connect, "refused"));
  EXPECT_EQ(fetch_metadata(), nullptr);
  EXPECT_TRUE(fake.debug.contains("Failed to download " + url + " due to error: refused\n"));
  http.serve(url, "version=\xC3(\n");  // not UTF-8: the reader cannot decode it
  EXPECT_EQ(fetch_metadata(), nullptr);
  EXPECT_TRUE(fake.debug.contains("No mapping for the Unicode character"));
  // A malformed escape is a failed fetch, not a crash.
  http.serve(url, "app.windows.manifests.version-quad=1.0\\uzzzz\n");
  EXPECT_EQ(fetch_metadata(), nullptr);
  EXPECT_TRUE(fake.debug.contains("Failed to parse " + url +
                                  ": malformed \\u escape (invalid stoi argument)\n"));
  EXPECT_FALSE(fake.debug.contains("Parsed metadata:"));

  // An invalid site address is raised, not fetched.
  http.requests.clear();
  burned_in_settings.site_base_url = "not a url/";
  EXPECT_THROW(fetch_metadata(), platform::PlatformError);
  EXPECT_TRUE(http.requests.empty());
}

// With a key only the file's own signature makes it count (without, see FillsTheRecord...).
TEST_F(FetchMetadata, WithAKeyOnlyItsOwnSignatureMakesTheFileCount) {
  const std::string body = "app.windows.manifests.version-quad=1.2.3.4\n";
  const auto signature = [](const std::string& name, const std::string& content) {
    return testing::FakeCrypto::sign(sha256_of(signed_message(name, sha256_of(content))));
  };
  http.serve(url, body);
  burned_in_settings.update_key = "the vendor's key";
  const std::pair<const char*, std::string> refused[] = {
      {"could not be downloaded (Status 404.)", ""},
      {"not signed with this application's key", signature("metadata.properties", body + " ")},
      {"not signed with this application's key", signature("App.cer", body)},
  };
  for (const auto& [why, bytes] : refused) {
    http.serve(url + ".sig", bytes, bytes.empty() ? 404 : 200);
    const size_t mark = fake.debug.text().size();
    EXPECT_EQ(fetch_metadata(), nullptr);
    const std::string log = fake.debug.text().substr(mark);
    EXPECT_NE(log.find("Ignoring the metadata: The signature of metadata.properties did not "
                       "match: "),
              std::string::npos);
    EXPECT_NE(log.find(why), std::string::npos) << log;
    EXPECT_EQ(log.find("Metadata:"), std::string::npos) << "an unsigned file is not the site's";
  }
  http.serve(url + ".sig", signature("metadata.properties", body));
  EXPECT_EQ(fetch_metadata()->version_quad, "1.2.3.4");
}

// The budget covers the file and its signature; once spent, nothing more is asked or used.
TEST_F(FetchMetadata, ABudgetSpentSkipsTheCheck) {
  using Limits = std::vector<std::optional<std::chrono::milliseconds>>;
  const std::chrono::milliseconds budget(5000);
  burned_in_settings.update_key = "the vendor's key";
  http.serve(url, "a=b");
  http.serve(url + ".sig", std::string(64, 's'));
  const std::tuple<uint64_t, uint64_t, Limits> cases[] = {
      {6000, 0, {budget}},                                  // the metadata stalls past the budget
      {5000, 0, {budget}},                                  // it arrives as the budget ends
      {4990, 30, {budget, std::chrono::milliseconds(10)}},  // the signature gets what is left
  };
  for (const auto& [metadata_ms, signature_ms, limits] : cases) {
    http.time_limits.clear();
    http.on_get_buffer = [&](const std::string& uri) {
      fake.system.tick_count += uri == url ? metadata_ms : signature_ms;
    };
    const size_t mark = fake.debug.text().size();
    EXPECT_EQ(fetch_metadata(budget), nullptr);
    EXPECT_EQ(fake.debug.text().substr(mark).find("Update check skipped: the site did not answer "
                                                  "within 5000 ms.\n"),
              std::string("Downloading metadata...").size());
    EXPECT_EQ(http.time_limits, limits);
  }
}

}  // namespace
}  // namespace pellora
