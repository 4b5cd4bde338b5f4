#include "installer/deploy/certificate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/uri.h"
#include "installer/platform/backend.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ending_of;

constexpr const char* store_part = "' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";

class InstallCertificate : public ::testing::Test {
 protected:
  InstallCertificate() {
    fake.services().http = &http;
    burned_in_settings.site_base_url = "https://example.test/app/";
    use_certificate("App.cer");
  }

  void use_certificate(const std::string& name) {
    burned_in_settings.certificate_file_name = name;
    http.serve(Uri(burned_in_settings.site_base_url + name).to_string(), "certificate bytes");
  }

  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
  const std::string local = fake.scratch.path("App.cer");
};

TEST_F(InstallCertificate, DownloadsImportsElevatedAndPauses) {
  fake.scratch.write("App.cer", "an older certificate");
  EXPECT_TRUE(install_certificate());

  EXPECT_EQ(http.requests, std::vector<std::string>{"https://example.test/app/App.cer"});
  EXPECT_EQ(fake.scratch.read("App.cer"), "certificate bytes");
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].verb, "runas");
  EXPECT_EQ(fake.shell.calls[0].file, fake.system.powershell_path_value);
  EXPECT_EQ(fake.shell.calls[0].show_command, 0);
  EXPECT_EQ(fake.shell.calls[0].parameters, "Import-Certificate -FilePath '" + local + store_part);
  EXPECT_EQ(fake.debug.lines(), (std::vector<std::string>{
                                    "Downloading certificate into " + local + "\n",
                                    "The site is not verified (no update key is burned in): "
                                    "https://example.test/app/App.cer\n",
                                    "Installing certificate into LocalMachine/TrustedPeople.\n"}));
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>{2000});
}

TEST_F(InstallCertificate, AnyPathArrivesIntactInsideTheQuotedLiteral) {
  struct Case {
    std::string folder;
    std::string certificate;
    std::string quoted;  // what follows the scratch folder inside the literal
  };
  const Case cases[] = {
      {"my temp files/", "App.cer", "/my temp files/App.cer"},
      {"O'Brien/tmp/", "App.cer", "/O''Brien/tmp/App.cer"},
      // PowerShell's other single quotes, U+2018 to U+201B, end a literal too.
      {"O\u2018\u2019\u201A\u201B/", "App.cer",
       "/O\u2018\u2018\u2019\u2019\u201A\u201A\u201B\u201B/App.cer"},
      {"", "it's'; Remove-Item x; '.cer", "/it''s''; Remove-Item x; ''.cer"},
      {"Zoë Łukasz/临时/", "Zertifikat.cer", "/Zoë Łukasz/临时/Zertifikat.cer"},
  };
  // The cases spell the separator "/"; the folders are the system's.
  const auto native = [&](std::string path) {
    for (size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
      path.replace(at, 1, fake.system.path_separator());
    }
    return path;
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.folder + each.certificate);
    fake.shell.calls.clear();
    fake.system.temp_path_value = fake.scratch.path() + native("/" + each.folder);
    // The names are UTF-8, which a narrow path on Windows would take for the ANSI code page.
    const std::string& temp = fake.system.temp_path_value;
    std::filesystem::create_directories(std::u8string(temp.begin(), temp.end()));
    use_certificate(each.certificate);
    EXPECT_TRUE(install_certificate());
    ASSERT_EQ(fake.shell.calls.size(), 1u);
    EXPECT_EQ(
        fake.shell.calls[0].parameters,
        "Import-Certificate -FilePath '" + fake.scratch.path() + native(each.quoted) + store_part);
    // The log shows the file as it is on disk.
    EXPECT_TRUE(fake.debug.contains("Downloading certificate into " + fake.system.temp_path_value +
                                    each.certificate + "\n"));
  }
}

TEST_F(InstallCertificate, FailuresOfTheDownloadAndTheShell) {
  http.fail("https://example.test/app/App.cer",
            platform::PlatformError(0x80190194, "Not found (404)."));
  EXPECT_EQ(ending_of([] { install_certificate(); }), "exit 1");
  EXPECT_EQ(fake.clipboard.text,
            "Failed to download https://example.test/app/App.cer due to error: Not found (404).");
  EXPECT_TRUE(fake.shell.calls.empty());

  use_certificate("App.cer");
  fake.shell.result = 2;
  fake.shell.failure_error = platform::win32::file_not_found;
  EXPECT_EQ(ending_of([] { install_certificate(); }), "exit 1");
  EXPECT_EQ(fake.clipboard.text,
            "Powershell failed with error: [2]: " + platform::format_message(2) +
                ": args are: Import-Certificate -FilePath '" + local + store_part);

  // A refused elevation is the user's cancellation: no box, no pause.
  fake.shell.failure_error = platform::win32::cancelled;
  EXPECT_EQ(ending_of([] { install_certificate(); }), "cancelled");
  EXPECT_TRUE(fake.debug.contains("Certificate installation cancelled by the user, quitting."));
  EXPECT_EQ(fake.window.boxes.size(), 2u);
  EXPECT_TRUE(fake.system.sleeps.empty());
}

TEST_F(InstallCertificate, StorageFailuresPropagate) {
  fake.system.temp_path_value = fake.scratch.path("missing") + fake.system.path_separator();
  // Path not found; Wine says file not found.
  const std::string ending = ending_of([] { install_certificate(); });
  EXPECT_TRUE(ending == "error 80070003" || ending == "error 80070002") << ending;
  EXPECT_TRUE(fake.window.boxes.empty());
}

}  // namespace
}  // namespace pellora
