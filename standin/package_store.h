#pragma once
// The stand-in's record of installed packages: registrations/<FullName> (a "Key=value" line per
// field), packages/<FullName>/ (the files), protocols/<scheme> (the owner's full name and entry
// executable on two lines) and data/<FamilyName>/ (the data folders).

#include <optional>
#include <string>
#include <vector>

#include "standin/package_identity.h"

namespace standin {

struct Registration {
  PackageIdentity identity;
  std::string full_name;
  std::string family_name;
  std::string entry_executable;
  std::vector<ProtocolRegistration> protocols;
};

std::string installed_folder(const std::string& full_name);
std::string family_data_folder(const std::string& family_name);

std::optional<Registration> read_registration(const std::string& full_name);
// Written to a temporary file and renamed, so a reader never sees half a record.
bool write_registration(const Registration& registration);
std::vector<Registration> installed_packages();

// The registered package whose folder holds this real path (of an executable).
std::optional<Registration> package_containing(const std::string& real_executable_path);
// The package identity of this process: the registered package whose folder holds the real
// path of its executable. Nullopt without identity.
std::optional<Registration> current_process_package();

struct ProtocolHandler {
  std::string full_name;
  std::string executable;  // relative to the package folder
};
std::optional<ProtocolHandler> protocol_handler(const std::string& scheme);
bool write_protocol(const std::string& scheme, const ProtocolHandler& handler);
// Removes the scheme's registration when this package owns it (a newer version may have taken
// the scheme over already).
void remove_protocol_if_owned(const std::string& scheme, const std::string& full_name);

// Whether a scheme is one a protocol registration may name (letters, digits, "+-.", starting
// with a letter, at least two characters so a drive letter is never a scheme).
bool is_valid_scheme(const std::string& scheme);

}  // namespace standin
