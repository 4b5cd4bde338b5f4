#include "installer/deploy/escape_hatch.h"

#include "common/error.h"
#include "installer/appdata/backup.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/process_launch.h"
#include "installer/core/uri.h"
#include "installer/download/download.h"
#include "installer/platform/services.h"
#include "installer/settings/versions.h"

namespace pellora {
namespace {

constexpr const char* no_family_name =
    "No package family name in metadata, not running the escape hatch.";
constexpr const char* family_name_changed = "Package family name changed.";

}  // namespace

EscapeHatchDecision decide_escape_hatch(const Metadata& metadata,
                                        const std::string& burned_in_site_base_url,
                                        const std::function<std::string()>& current_family_name,
                                        const std::function<bool()>& update_is_available) {
  switch (metadata.escape_hatch_run_if) {
    case EscapeHatchRunIf::package_family_changed:
      if (metadata.package_family_name.empty()) return {false, no_family_name};
      if (metadata.package_family_name == current_family_name()) {
        return {false, "Package family name unchanged, not running the escape hatch."};
      }
      return {true, family_name_changed};
    case EscapeHatchRunIf::reinstall_required:
      if (metadata.package_family_name.empty()) return {false, no_family_name};
      if (metadata.site_base_url.empty()) {
        return {false, "No site base URL in metadata, not running the escape hatch."};
      }
      // A moved site says enough; the family name is not looked up then.
      if (metadata.site_base_url != burned_in_site_base_url)
        return {true, "Site base URL changed."};
      if (metadata.package_family_name != current_family_name()) {
        return {true, family_name_changed};
      }
      return {false, "Reinstall not required, not running the escape hatch."};
    case EscapeHatchRunIf::not_up_to_date:
      if (update_is_available()) return {true, "Package not up to date."};
      return {false, "Up to date, not running the escape hatch."};
    case EscapeHatchRunIf::always:
      return {true, ""};
    case EscapeHatchRunIf::unknown:
      break;
  }
  return {false, ""};
}

std::string escape_hatch_arguments(
    const std::vector<std::pair<std::string, std::string>>& query_entries) {
  std::string text;
  for (const auto& [name, value] : query_entries) {
    if (!text.empty()) text += " ";
    text += name;
    if (!value.empty()) text += "=" + value;
  }
  return text;
}

std::string escape_hatch_package_path(const std::string& uri_path) {
  return uri_path.empty() ? uri_path : uri_path.substr(1);
}

bool run_escape_hatch(const Metadata* metadata) {
  if (metadata == nullptr) return false;
  const EscapeHatchDecision decision = decide_escape_hatch(
      *metadata, burned_in_settings.site_base_url,
      [] { return platform::services().current_package->family_name(); },
      [metadata] { return update_available(metadata); });
  if (!decision.log_text.empty()) log_line(decision.log_text + "\n");
  if (!decision.run) return false;

  export_appdata_locations();
  log_line("Running the escape hatch: " + metadata->escape_hatch_exe + "\n");
  const Uri uri(metadata->escape_hatch_exe);
  const std::string arguments = escape_hatch_arguments(uri.query_parsed());
  const std::string& scheme = uri.scheme_name();
  if (scheme == "http" || scheme == "https") {
    std::string program;
    try {
      program = download_uri_to_tmp(uri, "escape-hatch.exe", "Downloading, please wait");
    } catch (const platform::PlatformError& error) {
      if (error.is_cancellation()) throw;
      // The site's rescue is optional: without it the normal update path goes on.
      log_line("Failed to download " + uri.to_string() + " due to error: " + error.message() +
               "\nIgnoring the escape hatch.\n");
      return false;
    }
    launch_process(program, arguments, false);
    return true;
  }
  if (scheme == "ms-appx") {
    const std::string path = escape_hatch_package_path(uri.path());
    log_line("Running package file: " + path + "\n");
    return launch_temp_copy(path, "escape-hatch.exe", arguments);
  }
  log_line("Unsupported URL scheme (" + scheme + "), ignoring the escape hatch.\n");
  return false;
}

}  // namespace pellora
