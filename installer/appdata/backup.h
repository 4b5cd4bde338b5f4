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
// The backup folder's path, or empty when the backup failed (after a log line); then
// `failure_reason`, when given, receives the backup's error message.
std::string backup_appdata(std::string* failure_reason = nullptr);
std::string read_env_variable(const std::string& name);
void copy_folder_from_variable(const std::string& name, const std::string& destination);
// Raises IOException on failure.
void shell_copy(const std::string& source, const std::string& destination);

// backup_appdata with the backup folder made directly inside `temp_folder` (which ends in the
// separator) instead of temp_directory().
std::string backup_appdata_under(const std::string& temp_folder,
                                 std::string* failure_reason = nullptr);

}  // namespace pellora
