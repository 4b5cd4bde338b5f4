#pragma once
// The site's files that the installer acts on (the metadata file, the certificate, the escape
// hatch and the new installer) carry a detached signature beside them: the file's URL without
// its query, plus ".sig", holding r || s (64 bytes) of an ECDSA P-256 signature by the vendor's
// key over SHA-256 of signed_message(). The message names the file, so a signed file served
// under another file's name does not pass.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "installer/core/uri.h"
#include "installer/platform/crypto.h"

namespace pellora {

// TRUST_E_BAD_DIGEST: what a file whose signature does not match fails with.
inline constexpr uint32_t signature_mismatch = 0x80096010;
inline constexpr size_t site_signature_size = 64;

// The name a file is signed under: the last segment of its URL's path.
std::string signed_file_name(const Uri& uri);
// Where the file's signature lies: its URL without query and fragment, plus ".sig".
std::string signature_url(const Uri& uri);
// "trevalon-site-file/1\n" + name + "\n" + the content's SHA-256 in lower-case hexadecimal.
std::string signed_message(const std::string& name, const platform::Sha256Digest& content);

// SHA-256 through the platform's cryptography.
platform::Sha256Digest sha256_of(const std::string& bytes);

// Checks the file the installer took from `uri`, whose content has the SHA-256 `content`,
// against its signature with the burned-in update key. Without a key it logs that the site is
// not verified and accepts. Raises PlatformError(signature_mismatch, "The signature of NAME did
// not match: WHY.") when the signature cannot be had, is malformed or was not made by the key
// for this file; a cancelled signature download raises the cancellation error. `time_limit`
// bounds the signature's download. Worker threads only.
void check_site_signature(const Uri& uri, const platform::Sha256Digest& content,
                          std::optional<std::chrono::milliseconds> time_limit = std::nullopt);

// Whether a burned-in key makes the installer check the site's files.
bool site_is_verified();

}  // namespace pellora
