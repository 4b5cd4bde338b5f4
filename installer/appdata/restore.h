#pragma once
#include <string>

namespace pellora {

// Copies a backup back into the package's data folders and restores forwarded_args from it.
// Failures are logged; it always completes.
void restore_appdata(std::string backup_path);

}  // namespace pellora
