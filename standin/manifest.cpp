#include "standin/manifest.h"

#include <cstring>
#include <pugixml.hpp>

namespace standin {
namespace {

// Element names compare without their namespace prefix ("uap:Protocol" is a Protocol).
bool is_named(const pugi::xml_node& node, const char* local_name) {
  const char* name = node.name();
  if (const char* colon = std::strrchr(name, ':')) name = colon + 1;
  return std::strcmp(name, local_name) == 0;
}

pugi::xml_node child_named(const pugi::xml_node& parent, const char* local_name) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && is_named(child, local_name)) return child;
  }
  return {};
}

void find_all(const pugi::xml_node& parent, const char* local_name,
              std::vector<pugi::xml_node>& found) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() != pugi::node_element) continue;
    if (is_named(child, local_name)) found.push_back(child);
    find_all(child, local_name, found);
  }
}

bool read_identity(const pugi::xml_node& node, PackageIdentity& identity, std::string& error,
                   const char* what) {
  identity.name = node.attribute("Name").value();
  identity.publisher = node.attribute("Publisher").value();
  identity.version = node.attribute("Version").value();
  identity.processor_architecture = node.attribute("ProcessorArchitecture").value();
  identity.resource_id = node.attribute("ResourceId").value();
  if (identity.name.empty() || identity.publisher.empty() || identity.version.empty()) {
    error = std::string(what) + " lacks Name, Publisher or Version.";
    return false;
  }
  if (!parse_package_version(identity.version)) {
    error = std::string(what) + " has an invalid Version \"" + identity.version + "\".";
    return false;
  }
  if (identity.processor_architecture.empty()) identity.processor_architecture = "neutral";
  return true;
}

bool load(pugi::xml_document& document, const std::string& xml, std::string& error) {
  const pugi::xml_parse_result result = document.load_buffer(xml.data(), xml.size());
  if (!result) {
    error = std::string("The XML is not well formed: ") + result.description() + ".";
    return false;
  }
  return true;
}

}  // namespace

std::optional<AppInstallerFile> parse_app_installer(const std::string& xml, std::string& error) {
  pugi::xml_document document;
  if (!load(document, xml, error)) return std::nullopt;
  const pugi::xml_node root = document.document_element();
  if (!is_named(root, "AppInstaller")) {
    error = "The root element is not AppInstaller.";
    return std::nullopt;
  }
  const pugi::xml_node main = child_named(root, "MainPackage");
  if (!main) {
    error = "The .appinstaller file has no MainPackage.";
    return std::nullopt;
  }
  AppInstallerFile file;
  if (!read_identity(main, file.main_package, error, "MainPackage")) return std::nullopt;
  file.main_package_uri = main.attribute("Uri").value();
  if (file.main_package_uri.empty()) {
    error = "MainPackage has no Uri.";
    return std::nullopt;
  }
  return file;
}

std::optional<AppxManifest> parse_appx_manifest(const std::string& xml, std::string& error) {
  pugi::xml_document document;
  if (!load(document, xml, error)) return std::nullopt;
  const pugi::xml_node root = document.document_element();
  if (!is_named(root, "Package")) {
    error = "The manifest's root element is not Package.";
    return std::nullopt;
  }
  const pugi::xml_node identity_node = child_named(root, "Identity");
  if (!identity_node) {
    error = "The manifest has no Identity.";
    return std::nullopt;
  }
  AppxManifest manifest;
  if (!read_identity(identity_node, manifest.identity, error, "Identity")) return std::nullopt;
  std::vector<pugi::xml_node> applications;
  if (const pugi::xml_node list = child_named(root, "Applications")) {
    find_all(list, "Application", applications);
  }
  for (const pugi::xml_node& application : applications) {
    const std::string executable = application.attribute("Executable").value();
    if (manifest.entry_executable.empty()) manifest.entry_executable = executable;
    std::vector<pugi::xml_node> protocols;
    find_all(application, "Protocol", protocols);
    for (const pugi::xml_node& protocol : protocols) {
      const std::string scheme = protocol.attribute("Name").value();
      if (!scheme.empty()) manifest.protocols.push_back({scheme, executable});
    }
  }
  return manifest;
}

}  // namespace standin
