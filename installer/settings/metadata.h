#pragma once
// The site's metadata.properties: fetch, parser and record.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace pellora {

enum class EscapeHatchRunIf : int32_t {
  unknown = 0,
  package_family_changed = 1,
  reinstall_required = 2,
  not_up_to_date = 3,
  always = 4,
};

struct Metadata {
  std::string version_quad;
  std::string escape_hatch_exe;
  std::string package_family_name;
  std::string site_base_url;
  std::string exe_installer_name;
  EscapeHatchRunIf escape_hatch_run_if = EscapeHatchRunIf::unknown;
};

// How long the update check on the application's start may take in all: a site that stalls,
// drips or does not answer costs the user this much at most.
inline constexpr std::chrono::milliseconds start_update_check_budget{5000};

// Downloads, checks against its signature, logs and parses site_base_url +
// "metadata.properties"; nothing when it cannot be had, or when its signature does not match a
// burned-in key. With a `budget`, the file and its signature must arrive within it, or the
// check is skipped (nothing). Blocks the calling worker thread.
std::unique_ptr<Metadata> fetch_metadata(
    std::optional<std::chrono::milliseconds> budget = std::nullopt);

std::map<std::string, std::string> parse_properties(const std::string& text);
// Unescapes one line in place; true when it ended in a continuation backslash.
bool unescape_properties_line(std::string& line);

}  // namespace pellora
