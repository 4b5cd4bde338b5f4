// make-site: builds a site (package, .appinstaller, metadata.properties, certificate) for the
// tests and the demo. See the README for the options.

#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "tools/make-site/site_builder.h"

namespace {

constexpr const char* usage =
    "usage: make-site --out DIR --base-url URL --name NAME --publisher DN --version A.B.C.D\n"
    "                 [--architecture ARCH] [--executable PATH] [--protocol SCHEME]\n"
    "                 [--file SOURCE=PATH]... [--raw-entry SOURCE=ENTRY]...\n"
    "                 [--site-file SOURCE=NAME]... [--package-file NAME]\n"
    "                 [--appinstaller-file NAME] [--certificate NAME]\n"
    "                 [--metadata-version V] [--installer-name NAME]\n"
    "                 [--metadata KEY=VALUE]... [--no-metadata] [--manifest-version V]\n";

bool split_pair(const std::string& text, std::string& left, std::string& right) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) return false;
  left = text.substr(0, equals);
  right = text.substr(equals + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  trevalon::make_site::SiteOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::cout << usage;
      return 0;
    }
    if (option == "--no-metadata") {
      options.metadata_file = false;
      continue;
    }
    if (i + 1 >= argc) {
      std::cerr << "make-site: " << option << " needs a value\n" << usage;
      return 2;
    }
    const std::string value = argv[++i];
    std::string left;
    std::string right;
    auto pair = [&](auto& list) {
      if (!split_pair(value, left, right)) return false;
      list.push_back({left, right});
      return true;
    };
    bool ok = true;
    if (option == "--out")
      options.out = value;
    else if (option == "--base-url")
      options.base_url = value;
    else if (option == "--name")
      options.name = value;
    else if (option == "--publisher")
      options.publisher = value;
    else if (option == "--version")
      options.version = value;
    else if (option == "--architecture")
      options.architecture = value;
    else if (option == "--manifest-version")
      options.manifest_version = value;
    else if (option == "--executable")
      options.executable = value;
    else if (option == "--protocol")
      options.protocol = value;
    else if (option == "--file")
      ok = pair(options.files);
    else if (option == "--raw-entry")
      ok = pair(options.raw_entries);
    else if (option == "--site-file")
      ok = pair(options.site_files);
    else if (option == "--package-file")
      options.package_file = value;
    else if (option == "--appinstaller-file")
      options.appinstaller_file = value;
    else if (option == "--certificate")
      options.certificate_file = value;
    else if (option == "--metadata-version")
      options.metadata_version = value;
    else if (option == "--installer-name")
      options.installer_name = value;
    else if (option == "--metadata")
      ok = pair(options.metadata);
    else {
      std::cerr << "make-site: unknown option " << option << "\n" << usage;
      return 2;
    }
    if (!ok) {
      std::cerr << "make-site: " << option << " takes LEFT=RIGHT, got " << value << "\n";
      return 2;
    }
  }
  try {
    trevalon::make_site::build_site(options);
  } catch (const std::exception& error) {
    std::cerr << "make-site: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
