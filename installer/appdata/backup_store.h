#pragma once
// Where the application's data backups live, and the lock that keeps two reinstalls apart. Every
// version of a package family shares one private folder under the user's temporary folder; each
// reinstall writes a new numbered backup there beside the older ones and marks it complete last.
// A backup goes only once a restore has put every one of its folders back.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "installer/platform/files.h"

namespace pellora {

inline constexpr const char* backup_name_prefix = "appdata.backup.";
inline constexpr const char* backup_complete_marker = "backup.complete";
inline constexpr const char* reinstall_lock_name = "reinstall.lock";

// "Name_PublisherId" for a package full name "Name_Version_Architecture_ResourceId_PublisherId";
// the full name itself when it has no such form.
std::string package_family_name(const std::string& full_name);

// The family's backup folder for the burned-in package, ending in the separator, created when
// missing; a folder that cannot be used ends in report_error, as temp_directory does.
std::string family_backup_folder();
// The same folder, or empty when it cannot be used (no box).
std::string usable_family_backup_folder();

// The complete backups in `family_folder`, oldest first (their paths).
std::vector<std::string> complete_backups(const std::string& family_folder);
// The path of a new backup, numbered above every one in `family_folder`; not created.
std::string next_backup_path(const std::string& family_folder);
// The backup's name when `path` is a backup folder directly inside `family_folder`, else empty.
std::string backup_name_in(const std::string& family_folder, const std::string& path);
// Marks a backup complete in one step. Raises PlatformError.
void mark_backup_complete(const std::string& backup);
// Removes backups never marked complete. Only with the reinstall lock held: such a backup may be
// one being written.
void remove_incomplete_backups(const std::string& family_folder);
// Removes a backup, its mark first: a removal cut short leaves an incomplete backup, never a
// complete-looking one with files missing. False when something stayed (it is logged).
bool remove_backup(const std::string& backup);

// The family's reinstall lock, held from the backup to the end of the restore. The reinstall, the
// site's installer and the packaged copy that restores are three processes: each holds the lock
// file open for itself alone, and before it ends hands the lock on to the restore of one backup,
// which only the process restoring that backup may take within handover_grace_seconds. A lock
// whose holder ended without handing it on is free at once.
class ReinstallLock {
 public:
  static constexpr int64_t handover_grace_seconds = 120;

  // Takes the lock in `family_folder`, trying again for up to `patience_ms` while another process
  // holds it or it is kept for another backup's restore. `heir_of`: the name of the backup this
  // process restores (empty for none). Null when not taken: `busy` then tells another holder
  // from a lock file that cannot be opened (last error set).
  static std::unique_ptr<ReinstallLock> take(const std::string& family_folder,
                                             const std::string& heir_of, uint32_t patience_ms,
                                             bool& busy);
  ~ReinstallLock();
  ReinstallLock(const ReinstallLock&) = delete;
  ReinstallLock& operator=(const ReinstallLock&) = delete;

  // Keeps the lock for the restore of `backup_name` once this process ends.
  void hand_over(const std::string& backup_name);

 private:
  explicit ReinstallLock(std::unique_ptr<platform::HeldFile> file) : file_(std::move(file)) {}
  std::unique_ptr<platform::HeldFile> file_;
  bool handed_over_ = false;
};

}  // namespace pellora
