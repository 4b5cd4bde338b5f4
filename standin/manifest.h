#pragma once
// The two XML documents a deployment reads: the .appinstaller file and the package's
// AppxManifest.xml.

#include <optional>
#include <string>
#include <vector>

#include "standin/package_identity.h"

namespace standin {

struct AppInstallerFile {
  PackageIdentity main_package;
  std::string main_package_uri;
};

struct AppxManifest {
  PackageIdentity identity;
  std::string entry_executable;  // the first application's Executable; may be empty
  std::vector<ProtocolRegistration> protocols;
};

// Nullopt, with `error` describing why, when the document is not what a deployment needs.
std::optional<AppInstallerFile> parse_app_installer(const std::string& xml, std::string& error);
std::optional<AppxManifest> parse_appx_manifest(const std::string& xml, std::string& error);

}  // namespace standin
