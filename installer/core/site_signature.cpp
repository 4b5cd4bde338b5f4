#include "installer/core/site_signature.h"

#include <vector>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

// A signature file is 64 bytes; a larger body is not one, and need not be held.
constexpr uint64_t max_signature_bytes = 4096;

platform::PlatformError mismatch(const Uri& uri, const std::string& why) {
  return platform::PlatformError(signature_mismatch, "The signature of " + signed_file_name(uri) +
                                                         " did not match: " + why +
                                                         ". Nothing from it was used.");
}

}  // namespace

std::string signed_file_name(const Uri& uri) {
  const std::string& path = uri.path();
  return path.substr(path.rfind('/') + 1);
}

std::string signature_url(const Uri& uri) {
  const std::string text = uri.to_string();
  return text.substr(0, text.find_first_of("?#")) + ".sig";
}

std::string signed_message(const std::string& name, const platform::Sha256Digest& content) {
  static const char digits[] = "0123456789abcdef";
  std::string message = "trevalon-site-file/1\n" + name + "\n";
  for (uint8_t byte : content) {
    message += digits[byte >> 4];
    message += digits[byte & 0x0f];
  }
  return message;
}

platform::Sha256Digest sha256_of(const std::string& bytes) {
  const auto hash = platform::services().crypto->start_sha256();
  hash->update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return hash->finish();
}

bool site_is_verified() { return !burned_in_settings.update_key.empty(); }

void check_site_signature(const Uri& uri, const platform::Sha256Digest& content,
                          std::optional<std::chrono::milliseconds> time_limit) {
  if (!site_is_verified()) {
    log_line("The site is not verified (no update key is burned in): " + uri.to_string() + "\n");
    return;
  }
  const std::string url = signature_url(uri);
  std::vector<uint8_t> signature;
  try {
    signature = platform::services().http->get_buffer(url, max_signature_bytes, time_limit);
  } catch (const platform::PlatformError& error) {
    if (error.is_cancellation()) throw;
    throw mismatch(uri,
                   "its signature " + url + " could not be downloaded (" + error.message() + ")");
  }
  if (signature.size() != site_signature_size) {
    throw mismatch(uri, "its signature is " + std::to_string(signature.size()) +
                            " bytes long instead of " + std::to_string(site_signature_size));
  }
  const std::string& key = burned_in_settings.update_key;
  const platform::Sha256Digest message = sha256_of(signed_message(signed_file_name(uri), content));
  if (!platform::services().crypto->verify_p256(
          {reinterpret_cast<const uint8_t*>(key.data()), key.size()}, message, signature)) {
    throw mismatch(uri, "it was not signed with this application's key");
  }
  log_line("Signature verified: " + uri.to_string() + "\n");
}

}  // namespace pellora
