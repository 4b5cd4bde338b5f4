// Windows PowerShell as the stand-in knows it: imports a certificate into the trust store when
// started elevated with the one Import-Certificate command, and fails loudly on anything else.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "standin/certificates.h"
#include "standin/command_line_rules.h"
#include "standin/platform_root.h"
#include "tools/powershell/import_certificate.h"

namespace {

int fail(const std::string& message) {
  std::cerr << "Import-Certificate : " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // powershell.exe sees the command line the shell gave it; rebuilding it from argv by the same
  // rules gives that text back.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const std::string command = standin::command_line_of(arguments);
  std::string error;
  const auto path = trevalon::powershell::parse_import_certificate(command, error);
  if (!path) {
    std::cerr << "powershell: " << error << "\n    + Command line: " << command << "\n";
    return 1;
  }
  const char* elevated = std::getenv("TREVALON_PLATFORM_ELEVATED");
  if (elevated == nullptr || std::string(elevated) != "1") {
    return fail("Access is denied. (Exception from HRESULT: 0x80070005 (E_ACCESSDENIED))");
  }
  std::ifstream in(*path, std::ios::binary);
  if (!in) return fail("Cannot find path '" + *path + "' because it does not exist.");
  std::ostringstream content;
  content << in.rdbuf();
  const standin::X509Pointer certificate = standin::load_certificate(*path);
  if (!certificate) return fail("The file '" + *path + "' is not a certificate.");

  const std::string thumbprint = standin::certificate_thumbprint(certificate.get());
  if (!standin::make_directories(standin::trust_folder())) {
    return fail("The certificate store " + standin::trust_folder() + " cannot be created.");
  }
  const std::string target = standin::trust_folder() + "/" + thumbprint + ".cer";
  const std::string temporary = target + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content.str();
    if (!out.flush()) return fail("The certificate could not be written to " + temporary + ".");
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    return fail("The certificate could not be stored as " + target + ".");
  }
  std::string subject;
  for (const auto& [key, value] : standin::certificate_subject(certificate.get())) {
    if (!subject.empty()) subject += ", ";
    subject += key + "=" + value;
  }
  std::cout << "\n\n   PSParentPath: Cert:\\LocalMachine\\TrustedPeople\n\nThumbprint              "
               "                  Subject\n"
               "----------                                -------\n"
            << thumbprint << "  " << subject << "\n\n";
  return 0;
}
