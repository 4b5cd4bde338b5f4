// make-site: builds a site (package, .appinstaller, metadata.properties, certificate) for the
// tests and the demo, signed with the vendor's key when given one. See docs/make-site.md.

#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "standin/publisher_id.h"
#include "tools/make-site/site_builder.h"

namespace {

constexpr const char* usage =
    "usage: make-site --out DIR --base-url URL --name NAME --publisher DN --version A.B.C.D\n"
    "                 [--architecture ARCH] [--executable PATH] [--protocol SCHEME]\n"
    "                 [--file SOURCE=PATH]... [--folder SOURCE=PATH]...\n"
    "                 [--raw-entry SOURCE=ENTRY]...\n"
    "                 [--site-file SOURCE=NAME]... [--package-file NAME]\n"
    "                 [--appinstaller-file NAME] [--certificate NAME]\n"
    "                 [--metadata-version V] [--installer-name NAME]\n"
    "                 [--metadata KEY=VALUE]... [--no-metadata] [--manifest-version V]\n"
    "                 [--signing-key PRIVATE.pem]\n"
    "       make-site --print-full-name --name NAME --publisher DN --version A.B.C.D\n"
    "                 [--architecture ARCH]\n";

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
  // The packaging step burns the package full name into the installer that goes into the
  // package, so it needs the name before the site exists.
  bool print_full_name = false;
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
    if (option == "--print-full-name") {
      print_full_name = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::cerr << "make-site: " << option << " needs a value\n" << usage;
      return 2;
    }
    const std::string value = argv[++i];
    const std::map<std::string, std::string*> texts = {
        {"--out", &options.out},
        {"--base-url", &options.base_url},
        {"--name", &options.name},
        {"--publisher", &options.publisher},
        {"--version", &options.version},
        {"--architecture", &options.architecture},
        {"--manifest-version", &options.manifest_version},
        {"--executable", &options.executable},
        {"--protocol", &options.protocol},
        {"--package-file", &options.package_file},
        {"--appinstaller-file", &options.appinstaller_file},
        {"--certificate", &options.certificate_file},
        {"--metadata-version", &options.metadata_version},
        {"--installer-name", &options.installer_name},
        {"--signing-key", &options.signing_key},
    };
    const std::map<std::string, std::vector<trevalon::make_site::PackageFile>*> file_lists = {
        {"--file", &options.files},
        {"--folder", &options.folders},
        {"--raw-entry", &options.raw_entries},
        {"--site-file", &options.site_files},
    };
    std::string left;
    std::string right;
    bool ok = true;
    if (auto text = texts.find(option); text != texts.end()) {
      *text->second = value;
    } else if (auto list = file_lists.find(option); list != file_lists.end()) {
      ok = split_pair(value, left, right);
      if (ok) list->second->push_back({left, right});
    } else if (option == "--metadata") {
      ok = split_pair(value, left, right);
      if (ok) options.metadata.emplace_back(left, right);
    } else {
      std::cerr << "make-site: unknown option " << option << "\n" << usage;
      return 2;
    }
    if (!ok) {
      std::cerr << "make-site: " << option << " takes LEFT=RIGHT, got " << value << "\n";
      return 2;
    }
  }
  if (print_full_name) {
    if (options.name.empty() || options.publisher.empty() || options.version.empty()) {
      std::cerr << "make-site: --print-full-name needs --name, --publisher and --version\n";
      return 2;
    }
    std::cout << standin::package_full_name(options.name, options.version, options.architecture, "",
                                            options.publisher)
              << "\n";
    return 0;
  }
  try {
    trevalon::make_site::build_site(options);
  } catch (const std::exception& error) {
    std::cerr << "make-site: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
