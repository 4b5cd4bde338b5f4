#include "installer/deploy/certificate.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/progress_window.h"
#include "installer/core/site_signature.h"
#include "installer/core/uri.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

namespace {

// A signing certificate is a few kilobytes; anything near this is not one.
constexpr uint64_t max_certificate_bytes = 16u * 1024 * 1024;
// PowerShell is not waited for; this gives the import a chance to finish before the retry.
constexpr uint32_t pause_after_import_ms = 2000;

// The user's temporary folder, not the program's own subfolder.
std::string temporary_folder() {
  const std::string path = platform::services().system->temp_path();
  if (path.empty()) {
    const uint32_t code = platform::get_last_error();
    const uint32_t hresult = code == 0 ? platform::hresult::fail : 0x80070000u | (code & 0xFFFF);
    throw platform::PlatformError(hresult, "GetTempPath failed with error: " + last_error_text());
  }
  return path;
}

// PowerShell's own escape inside a single-quoted literal: a quote is written twice. Without it
// a folder such as O'Brien breaks the import, and a crafted file name would run as administrator.
std::string single_quoted_literal_content(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\'') escaped += '\'';
    escaped += c;
  }
  return escaped;
}

std::string import_certificate_parameters(const std::string& certificate_path) {
  return "Import-Certificate -FilePath '" + single_quoted_literal_content(certificate_path) +
         "' -CertStoreLocation \"Cert:\\LocalMachine\\TrustedPeople\"";
}

}  // namespace

bool install_certificate() {
  const Uri uri(burned_in_settings.site_base_url + burned_in_settings.certificate_file_name);
  platform::Services& services = platform::services();

  const std::string file_path = services.files->create_file_replace_existing(
      temporary_folder(), burned_in_settings.certificate_file_name);
  log_line("Downloading certificate into " + file_path + "\n");

  std::vector<uint8_t> certificate;
  try {
    certificate = services.http->get_buffer(uri.to_string(), max_certificate_bytes, std::nullopt);
    // Imported machine-wide, so trusted by the site's key only.
    check_site_signature(uri, sha256_of(std::string(certificate.begin(), certificate.end())));
  } catch (const platform::PlatformError& error) {
    report_error("Failed to download " + uri.to_string() + " due to error: " + error.message());
  }
  services.files->write_file(file_path, certificate);

  log_line("Installing certificate into LocalMachine/TrustedPeople.\n");
  const std::string parameters = import_certificate_parameters(file_path);
  const intptr_t result =
      services.shell->shell_execute("runas", "powershell", parameters, platform::sw_hide);
  if (result <= 32) {
    if (platform::get_last_error() == platform::win32::cancelled) {
      log_line("Certificate installation cancelled by the user, quitting.");
      throw platform::cancelled_error();
    }
    report_error("Powershell failed with error: " + last_error_text() +
                 ": args are: " + parameters);
  }
  services.system->sleep_ms(pause_after_import_ms);
  return true;
}

}  // namespace pellora
