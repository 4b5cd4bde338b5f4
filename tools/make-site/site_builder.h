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
  // A PEM ECDSA P-256 private key: metadata.properties, the certificate and the site files get a
  // detached signature beside them ("<file>.sig"). Nothing is signed when empty.
  std::string signing_key;
};

// The signature the installer checks for a site file called `name` with `content`: r || s of
// an ECDSA P-256 signature over SHA-256 of "trevalon-site-file/1\n" + name + "\n" + the
// content's SHA-256 in lower-case hexadecimal. Throws std::runtime_error.
std::string sign_site_file(const std::string& private_key_pem_path, const std::string& name,
                           const std::string& content);

// Percent-encodes a package path as package entry names are written ("a b" -> "a%20b").
std::string encode_entry_name(const std::string& path);

// Throws std::runtime_error naming what failed.
void build_site(const SiteOptions& options);

}  // namespace trevalon::make_site
