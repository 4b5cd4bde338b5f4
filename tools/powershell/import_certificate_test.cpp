#include "tools/powershell/import_certificate.h"

#include <gtest/gtest.h>

namespace trevalon::powershell {
namespace {

std::optional<std::string> parse(const std::string& command) {
  std::string error;
  auto path = parse_import_certificate(command, error);
  if (!path) {
    EXPECT_FALSE(error.empty()) << command;
  }
  return path;
}

TEST(ImportCertificate, ReadsTheInstallersCommand) {
  EXPECT_EQ(parse("Import-Certificate -FilePath '/tmp/site.cer' -CertStoreLocation "
                  "\"Cert:\\LocalMachine\\TrustedPeople\""),
            "/tmp/site.cer");
  // After a split and join the store path arrives without its quotes.
  EXPECT_EQ(parse("Import-Certificate -FilePath '/tmp/a b/site.cer' -CertStoreLocation "
                  "Cert:\\LocalMachine\\TrustedPeople"),
            "/tmp/a b/site.cer");
  EXPECT_EQ(parse("import-certificate -filepath '/x' -certstorelocation "
                  "cert:\\localmachine\\trustedpeople"),
            "/x");
}

TEST(ImportCertificate, ADoubledSingleQuoteIsAQuote) {
  EXPECT_EQ(parse("Import-Certificate -FilePath '/tmp/O''Brien/c.cer' -CertStoreLocation "
                  "\"Cert:\\LocalMachine\\TrustedPeople\""),
            "/tmp/O'Brien/c.cer");
}

TEST(ImportCertificate, RefusesEverythingElse) {
  EXPECT_FALSE(parse(""));
  EXPECT_FALSE(parse("Get-ChildItem"));
  EXPECT_FALSE(parse("Import-Certificate -FilePath '/x'"));
  EXPECT_FALSE(
      parse("Import-Certificate -FilePath '/x' -CertStoreLocation "
            "\"Cert:\\CurrentUser\\My\""));
  EXPECT_FALSE(
      parse("Import-Certificate -FilePath '/x -CertStoreLocation "
            "\"Cert:\\LocalMachine\\TrustedPeople\""));
  // A single quote inside the path, unescaped, ends the string early.
  EXPECT_FALSE(
      parse("Import-Certificate -FilePath '/tmp/O'Brien/c.cer' -CertStoreLocation "
            "\"Cert:\\LocalMachine\\TrustedPeople\""));
  EXPECT_FALSE(
      parse("Import-Certificate -FilePath '/x' -CertStoreLocation "
            "\"Cert:\\LocalMachine\\TrustedPeople\"; Remove-Item C:\\"));
}

}  // namespace
}  // namespace trevalon::powershell
