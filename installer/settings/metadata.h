#pragma once
// The site's metadata.properties: fetch, parser and record.

#include <cstdint>
#include <map>
#include <memory>
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

// Downloads, logs and parses site_base_url + "metadata.properties"; nothing when it cannot be
// had. Blocks the calling worker thread.
std::unique_ptr<Metadata> fetch_metadata();

std::map<std::string, std::string> parse_properties(const std::string& text);
// Unescapes one line in place; true when it ended in a continuation backslash.
bool unescape_properties_line(std::string& line);

}  // namespace pellora
