#pragma once
// The one command the stand-in PowerShell understands:
//   Import-Certificate -FilePath '<path>' -CertStoreLocation "Cert:\LocalMachine\TrustedPeople"

#include <optional>
#include <string>

namespace trevalon::powershell {

// The certificate path of an Import-Certificate command into LocalMachine\TrustedPeople, read
// as PowerShell reads it (a single-quoted string, a doubled quote inside being a quote; names
// of the command and its parameters in any letter case). Nullopt, with `error` saying why, for
// any other command.
std::optional<std::string> parse_import_certificate(const std::string& command, std::string& error);

}  // namespace trevalon::powershell
