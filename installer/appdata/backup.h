#pragma once
// Keeping the application's data across a reinstall: the hand-over variables, the backup folder
// and the shell copy.

#include <stdexcept>
#include <string>

namespace pellora {

// The installer's own error for failed file-system operations.
class IOException : public std::runtime_error {
 public:
  explicit IOException(const std::string& message) : std::runtime_error(message) {}
};

inline constexpr const char* appdata_local_variable = "TREVALON_APPDATA_LOCAL_FOLDER";
inline constexpr const char* appdata_roaming_variable = "TREVALON_APPDATA_ROAMING_FOLDER";
inline constexpr const char* appdata_local_cache_variable = "TREVALON_APPDATA_LOCAL_CACHE_FOLDER";
inline constexpr const char* original_command_line_variable =
    "TREVALON_INTERNAL_ORIGINAL_COMMAND_LINE";

void export_appdata_locations();
std::string read_env_variable(const std::string& name);
void copy_folder_from_variable(const std::string& name, const std::string& destination);
// Raises IOException on failure.
void shell_copy(const std::string& source, const std::string& destination);

// Why the handed-over data folders cannot all be backed up, or empty: each variable must name a
// folder that is there.
std::string handover_problem();
// Backs the three handed-over data folders and the command line up into `folder`, a new folder,
// and marks the backup complete last. Every folder is required: the package's removal deletes
// them all, so one not handed over is no part of a backup to remove the package after. Returns
// `folder`, or empty when the backup failed (after a log line); then `failure_reason`, when
// given, receives why.
std::string backup_appdata_into(const std::string& folder, std::string* failure_reason = nullptr);

}  // namespace pellora
