#include "tools/powershell/import_certificate.h"

#include <gtest/gtest.h>

namespace trevalon::powershell {
namespace {

const std::string store = " -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";

// The certificate path of the one command the stand-in understands, or nothing (with a reason).
std::optional<std::string> parse(const std::string& command) {
  std::string error;
  auto path = parse_import_certificate(command, error);
  EXPECT_EQ(path.has_value(), error.empty()) << command;
  return path;
}

TEST(ImportCertificate, ReadsTheInstallersCommandAndRefusesEverythingElse) {
  EXPECT_EQ(parse("Import-Certificate -FilePath '/tmp/site.cer'" + store), "/tmp/site.cer");
  // A doubled single quote is a quote.
  EXPECT_EQ(parse("Import-Certificate -FilePath '/tmp/O''Brien/c.cer'" + store),
            "/tmp/O'Brien/c.cer");
  // The typographic single quotes open, end and escape a literal as the apostrophe does; a pair
  // stands for its second quote.
  EXPECT_EQ(parse("Import-Certificate -FilePath "
                  "\u2018/tmp/O\u2019\u2019B\u201A\u201Ax\u201B\u201B'\u2018'" +
                  store),
            "/tmp/O\u2019B\u201Ax\u201B\u2018");
  // After a split and join the store path arrives without its quotes; names ignore case.
  EXPECT_EQ(parse("import-certificate -filepath '/tmp/a b/site.cer' -certstorelocation "
                  "cert:\\localmachine\\trustedpeople"),
            "/tmp/a b/site.cer");
  const std::vector<std::string> refused = {
      "", "Get-ChildItem", "Import-Certificate -FilePath '/x'",
      "Import-Certificate -FilePath '/x' -CertStoreLocation \"Cert:\\CurrentUser\\My\"",
      "Import-Certificate -FilePath '/x" + store,
      // A single quote inside the path, unescaped, ends the string early.
      "Import-Certificate -FilePath '/tmp/O'Brien/c.cer'" + store,
      "Import-Certificate -FilePath '/tmp/O\u2019Brien/c.cer'" + store,
      "Import-Certificate -FilePath '/x'" + store + "; Remove-Item C:\\"};
  for (const std::string& command : refused) {
    EXPECT_FALSE(parse(command)) << command;
  }
}

}  // namespace
}  // namespace trevalon::powershell
