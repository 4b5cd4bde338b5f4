#pragma once
// Builds a site the installer can install from: the package (a zip with AppxManifest.xml and
// the given files), the .appinstaller file that points at it, metadata.properties and a
// self-signed certificate whose subject is the package's Publisher.

#include <string>
#include <utility>
#include <vector>

namespace trevalon::make_site {

struct PackageFile {
  std::string source;       // a file on disk
  std::string destination;  // its path inside the package, with "/" separators
};

struct SiteOptions {
  std::string out;       // the site folder (created)
  std::string base_url;  // ends with "/"; the files are addressed as base_url + file name
  std::string name;
  std::string publisher;
  std::string version;
  std::string architecture = "arm64";
  std::string manifest_version;  // AppxManifest's Version when it must differ from `version`
  std::string protocol;          // uap:Protocol Name; none when empty
  std::string executable;        // the Application's Executable; marked executable
  std::vector<PackageFile> files;
  std::vector<PackageFile> folders;      // every file under `source`, placed under `destination`
  std::vector<PackageFile> raw_entries;  // zip entry names taken as given (for broken packages)
  std::vector<PackageFile> site_files;   // copied next to the package (installer, escape hatch)
  std::string package_file;              // default: <name>.msix
  std::string appinstaller_file;         // default: <name>.appinstaller
  std::string certificate_file;          // none when empty
  std::string metadata_version;          // default: version
  std::string installer_name;            // windows.exe-installer-name when set
  std::vector<std::pair<std::string, std::string>> metadata;  // further metadata keys
  bool metadata_file = true;
};

// Percent-encodes a package path as package entry names are written ("a b" -> "a%20b").
std::string encode_entry_name(const std::string& path);

// Throws std::runtime_error naming what failed.
void build_site(const SiteOptions& options);

}  // namespace trevalon::make_site
