#pragma once
// A package's identity as its manifest declares it, and the protocols it registers.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace standin {

struct PackageIdentity {
  std::string name;
  std::string publisher;
  std::string version;
  std::string processor_architecture;
  std::string resource_id;
};

struct ProtocolRegistration {
  std::string scheme;
  std::string executable;  // of the application that declares it, relative to the package
};

// "a.b.c.d", each part 0 to 65535. Nullopt for anything else.
std::optional<std::array<uint16_t, 4>> parse_package_version(const std::string& text);

}  // namespace standin
