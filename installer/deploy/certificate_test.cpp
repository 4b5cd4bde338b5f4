#include "installer/deploy/certificate.h"

#include <gtest/gtest.h>

#include <string>

#include "installer/core/burned_in_settings.h"
#include "installer/core/uri.h"
#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_http.h"
#include "tests/support/fake_platform.h"

namespace pellora {
namespace {

using testing::ProcessExit;

constexpr const char* store_part = "' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";

class InstallCertificate : public ::testing::Test {
 protected:
  InstallCertificate() {
    fake.services().http = &http;
    fake.services().files = &files;
    burned_in_settings.site_base_url = "https://example.test/app/";
    use_certificate("App.cer");
  }

  void use_certificate(const std::string& name) {
    burned_in_settings.certificate_file_name = name;
    certificate_uri = Uri(burned_in_settings.site_base_url + name).to_string();
    http.serve(certificate_uri, "certificate bytes");
  }

  testing::ScopedFakePlatform fake;
  testing::FakeHttp http;
  testing::FakeFiles files;
  std::string certificate_uri;
};

TEST_F(InstallCertificate, DownloadsImportsElevatedAndPauses) {
  fake.system.temp_path_value = "/tmp/";
  files.put("/tmp/App.cer", "an older certificate");
  EXPECT_TRUE(install_certificate());

  EXPECT_EQ(http.requests, std::vector<std::string>{"https://example.test/app/App.cer"});
  EXPECT_EQ(files.content("/tmp/App.cer"), "certificate bytes");
  ASSERT_EQ(fake.shell.calls.size(), 1u);
  EXPECT_EQ(fake.shell.calls[0].verb, "runas");
  EXPECT_EQ(fake.shell.calls[0].file, "powershell");
  EXPECT_EQ(fake.shell.calls[0].show_command, 0);
  EXPECT_EQ(fake.shell.calls[0].parameters,
            std::string("Import-Certificate -FilePath '/tmp/App.cer") + store_part);
  EXPECT_EQ(fake.debug.lines(), (std::vector<std::string>{
                                    "Downloading certificate into /tmp/App.cer\n",
                                    "Installing certificate into LocalMachine/TrustedPeople.\n"}));
  EXPECT_EQ(fake.system.sleeps, std::vector<uint32_t>{2000});
}

TEST_F(InstallCertificate, AnyPathArrivesIntactInsideTheQuotedLiteral) {
  struct Case {
    std::string temp_path;
    std::string certificate;
    std::string quoted_path;
  };
  const Case cases[] = {
      {"/tmp/my temp files/", "App.cer", "/tmp/my temp files/App.cer"},
      {"/home/O'Brien/tmp/", "App.cer", "/home/O''Brien/tmp/App.cer"},
      {"/tmp/", "it's'; Remove-Item x; '.cer", "/tmp/it''s''; Remove-Item x; ''.cer"},
      {"/home/Zoë Łukasz/临时/", "Zertifikat.cer", "/home/Zoë Łukasz/临时/Zertifikat.cer"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.temp_path + each.certificate);
    fake.shell.calls.clear();
    fake.system.temp_path_value = each.temp_path;
    use_certificate(each.certificate);
    EXPECT_TRUE(install_certificate());
    ASSERT_EQ(fake.shell.calls.size(), 1u);
    EXPECT_EQ(fake.shell.calls[0].parameters,
              "Import-Certificate -FilePath '" + each.quoted_path + store_part);
    // The log shows the file as it is on disk.
    EXPECT_TRUE(fake.debug.contains("Downloading certificate into " + each.temp_path +
                                    each.certificate + "\n"));
  }
}

TEST_F(InstallCertificate, DownloadFailureEndsInTheBox) {
  http.fail(certificate_uri, platform::PlatformError(0x80190194, "Not found (404)."));
  EXPECT_THROW(install_certificate(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text,
            "Failed to download https://example.test/app/App.cer due to error: Not found (404).");
  EXPECT_TRUE(fake.shell.calls.empty());
}

TEST_F(InstallCertificate, RefusedElevationIsACancellation) {
  fake.shell.result = 5;
  fake.shell.failure_error = platform::win32::cancelled;
  try {
    install_certificate();
    ADD_FAILURE() << "install_certificate returned";
  } catch (const platform::PlatformError& error) {
    EXPECT_TRUE(error.is_cancellation());
  }
  EXPECT_TRUE(fake.debug.contains("Certificate installation cancelled by the user, quitting."));
  EXPECT_TRUE(fake.window.boxes.empty());
  EXPECT_TRUE(fake.system.sleeps.empty());
}

TEST_F(InstallCertificate, OtherShellFailureEndsInTheBoxWithTheArguments) {
  fake.shell.result = 2;
  fake.shell.failure_error = platform::win32::file_not_found;
  EXPECT_THROW(install_certificate(), ProcessExit);
  EXPECT_EQ(fake.clipboard.text,
            "Powershell failed with error: [2]: " + platform::format_message(2) +
                ": args are: Import-Certificate -FilePath '/tmp/App.cer" + store_part);
}

TEST_F(InstallCertificate, StorageFailuresPropagate) {
  files.storage_failure_hresult = platform::hresult::access_denied;
  try {
    install_certificate();
    ADD_FAILURE() << "install_certificate returned";
  } catch (const platform::PlatformError& error) {
    EXPECT_EQ(error.code(), platform::hresult::access_denied);
  }
  EXPECT_TRUE(fake.window.boxes.empty());
}

}  // namespace
}  // namespace pellora
