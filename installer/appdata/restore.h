#pragma once
#include <string>

namespace pellora {

// What a restore could not bring back: the package's folder and why; both empty when every
// folder came back.
struct RestoreOutcome {
  std::string failed_folder;
  std::string failure;
  bool complete() const { return failed_folder.empty(); }
};

// Copies a backup's folders back into the package's data folders, each on its own (one the
// backup lacks is skipped). Failures are logged; it always completes.
RestoreOutcome restore_folders(const std::string& backup_path);
// restore_folders, then replaces forwarded_args with the saved command line, or empties it when
// that cannot be read.
RestoreOutcome restore_appdata(const std::string& backup_path);

// Restores every complete backup in `family_folder` (backup_store.h), oldest first so that the
// newest copy of a file wins, folder by folder, and removes each whose folders all came back. A
// folder that fails stays in its backup and in every newer one for the next try; one restored is
// never restored again. Only with the reinstall lock held. `failed_backup` names the backup of
// the first failure.
struct BackupsRestore {
  int restored = 0;
  std::string failed_backup;
  RestoreOutcome outcome;
};
BackupsRestore restore_complete_backups(const std::string& family_folder);

// The error box's text for a restore that left `outcome.failed_folder` behind: the folder, why,
// and where the copy is kept.
std::string restore_failure_text(const std::string& backup_path, const RestoreOutcome& outcome);

}  // namespace pellora
