#pragma once
#include <string>

namespace pellora {

// Copies a backup back into the package's data folders, each folder the backup holds on its
// own, and replaces forwarded_args with the saved command line, or empties it when that cannot
// be read. Failures are logged; it always completes.
void restore_appdata(std::string backup_path);

}  // namespace pellora
