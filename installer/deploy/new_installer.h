#pragma once
#include <string>

#include "installer/settings/metadata.h"

namespace pellora {

// Downloads the site's installer and starts it in restore_backup mode with `backup_path`.
void launch_new_installer(const std::string& backup_path, const Metadata* metadata);

}  // namespace pellora
