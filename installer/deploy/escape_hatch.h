#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "installer/settings/metadata.h"

namespace pellora {

// Runs the site's rescue program when its condition holds; true when it was started. Raises the
// cancellation error when its download is cancelled.
bool run_escape_hatch(const Metadata* metadata);

struct EscapeHatchDecision {
  bool run = false;
  std::string log_text;  // the line to log without its line feed; empty for none
};

// Whether the metadata's condition asks for the escape hatch. The current family name and the
// update check are asked for only by the rows that compare them.
EscapeHatchDecision decide_escape_hatch(const Metadata& metadata,
                                        const std::string& burned_in_site_base_url,
                                        const std::function<std::string()>& current_family_name,
                                        const std::function<bool()>& update_is_available);

// The program's parameters from the URL's decoded query: "name" or "name=value", space-separated.
std::string escape_hatch_arguments(
    const std::vector<std::pair<std::string, std::string>>& query_entries);

// The package-relative path of an ms-appx URL's path: its first character dropped.
std::string escape_hatch_package_path(const std::string& uri_path);

}  // namespace pellora
