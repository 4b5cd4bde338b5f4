#pragma once
// Package names as Windows forms them from a package's identity.

#include <string>

namespace standin {

// The first 8 bytes of SHA-256 over the publisher in UTF-16LE, as 13 base32 characters
// ("0123456789abcdefghjkmnpqrstvwxyz"; 65 bits, the last one zero).
std::string publisher_id(const std::string& publisher_utf8);

// Name_Version_Architecture_ResourceId_PublisherId.
std::string package_full_name(const std::string& name, const std::string& version,
                              const std::string& architecture, const std::string& resource_id,
                              const std::string& publisher);
// Name_PublisherId.
std::string package_family_name(const std::string& name, const std::string& publisher);

}  // namespace standin
