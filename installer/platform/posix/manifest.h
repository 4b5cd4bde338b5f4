#pragma once
// The two XML documents a deployment reads: the .appinstaller file and the package's
// AppxManifest.xml.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellora::platform::posix {

struct PackageIdentity {
  std::string name;
  std::string publisher;
  std::string version;
  std::string processor_architecture;
  std::string resource_id;
};

struct AppInstallerFile {
  PackageIdentity main_package;
  std::string main_package_uri;
};

struct ProtocolRegistration {
  std::string scheme;
  std::string executable;  // of the application that declares it, relative to the package
};

struct AppxManifest {
  PackageIdentity identity;
  std::string entry_executable;  // the first application's Executable; may be empty
  std::vector<ProtocolRegistration> protocols;
};

// Nullopt, with `error` describing why, when the document is not what a deployment needs.
std::optional<AppInstallerFile> parse_app_installer(const std::string& xml, std::string& error);
std::optional<AppxManifest> parse_appx_manifest(const std::string& xml, std::string& error);

// "a.b.c.d", each part 0 to 65535. Nullopt for anything else.
std::optional<std::array<uint16_t, 4>> parse_package_version(const std::string& text);

}  // namespace pellora::platform::posix
