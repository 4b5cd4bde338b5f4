#include "standin/package_store.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "standin/platform_root.h"

namespace standin {
namespace {

bool write_file_atomically(const std::string& path, const std::string& content) {
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    out.flush();
    if (!out) return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Schemes are case-insensitive; the store keeps them in lower case.
std::string protocol_file(const std::string& scheme) {
  std::string lower = scheme;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return protocols_folder() + "/" + lower;
}

}  // namespace

std::string installed_folder(const std::string& full_name) {
  return packages_folder() + "/" + full_name;
}

std::string family_data_folder(const std::string& family_name) {
  return data_folder() + "/" + family_name;
}

std::optional<Registration> read_registration(const std::string& full_name) {
  if (full_name.empty() || full_name.find('/') != std::string::npos || full_name[0] == '.') {
    return std::nullopt;
  }
  const auto content = read_file(registrations_folder() + "/" + full_name);
  if (!content) return std::nullopt;
  Registration registration;
  std::istringstream lines(*content);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "Name")
      registration.identity.name = value;
    else if (key == "Publisher")
      registration.identity.publisher = value;
    else if (key == "Version")
      registration.identity.version = value;
    else if (key == "ProcessorArchitecture")
      registration.identity.processor_architecture = value;
    else if (key == "ResourceId")
      registration.identity.resource_id = value;
    else if (key == "FullName")
      registration.full_name = value;
    else if (key == "FamilyName")
      registration.family_name = value;
    else if (key == "Executable")
      registration.entry_executable = value;
    else if (key == "Protocol") {
      const size_t tab = value.find('\t');
      registration.protocols.push_back(
          {value.substr(0, tab), tab == std::string::npos ? "" : value.substr(tab + 1)});
    }
  }
  if (registration.full_name != full_name) return std::nullopt;
  return registration;
}

bool write_registration(const Registration& registration) {
  std::string content;
  const PackageIdentity& id = registration.identity;
  content += "Name=" + id.name + "\n";
  content += "Publisher=" + id.publisher + "\n";
  content += "Version=" + id.version + "\n";
  content += "ProcessorArchitecture=" + id.processor_architecture + "\n";
  content += "ResourceId=" + id.resource_id + "\n";
  content += "FullName=" + registration.full_name + "\n";
  content += "FamilyName=" + registration.family_name + "\n";
  content += "Executable=" + registration.entry_executable + "\n";
  for (const ProtocolRegistration& protocol : registration.protocols) {
    content += "Protocol=" + protocol.scheme + "\t" + protocol.executable + "\n";
  }
  if (!make_directories(registrations_folder())) return false;
  return write_file_atomically(registrations_folder() + "/" + registration.full_name, content);
}

std::vector<Registration> installed_packages() {
  std::vector<Registration> packages;
  DIR* directory = ::opendir(registrations_folder().c_str());
  if (directory == nullptr) return packages;
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    if (auto registration = read_registration(entry->d_name)) {
      packages.push_back(std::move(*registration));
    }
  }
  ::closedir(directory);
  return packages;
}

std::optional<Registration> package_containing(const std::string& real_executable_path) {
  const std::string packages = real_path(packages_folder());
  if (packages.empty()) return std::nullopt;
  const std::string prefix = packages + "/";
  if (real_executable_path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const size_t end = real_executable_path.find('/', prefix.size());
  if (end == std::string::npos) return std::nullopt;  // a file directly in packages/
  return read_registration(real_executable_path.substr(prefix.size(), end - prefix.size()));
}

std::optional<Registration> current_process_package() {
  const std::string executable = real_path("/proc/self/exe");
  if (executable.empty()) return std::nullopt;
  return package_containing(executable);
}

std::optional<ProtocolHandler> protocol_handler(const std::string& scheme) {
  if (!is_valid_scheme(scheme)) return std::nullopt;
  const auto content = read_file(protocol_file(scheme));
  if (!content) return std::nullopt;
  std::istringstream lines(*content);
  ProtocolHandler handler;
  if (!std::getline(lines, handler.full_name) || !std::getline(lines, handler.executable)) {
    return std::nullopt;
  }
  return handler;
}

bool write_protocol(const std::string& scheme, const ProtocolHandler& handler) {
  if (!is_valid_scheme(scheme) || !make_directories(protocols_folder())) return false;
  return write_file_atomically(protocol_file(scheme),
                               handler.full_name + "\n" + handler.executable + "\n");
}

void remove_protocol_if_owned(const std::string& scheme, const std::string& full_name) {
  const auto handler = protocol_handler(scheme);
  if (handler && handler->full_name == full_name) std::remove(protocol_file(scheme).c_str());
}

bool is_valid_scheme(const std::string& scheme) {
  if (scheme.size() < 2) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(scheme[0])) return false;
  for (char c : scheme) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace standin
