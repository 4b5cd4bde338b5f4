#pragma once
#include <string>

#include "installer/core/burned_in_settings.h"
#include "installer/settings/metadata.h"

namespace pellora {

// Downloads the site's installer and starts it in restore_backup mode with `backup_path`.
// Raises the cancellation error when the download is cancelled; a failed download ends in
// report_error.
void launch_new_installer(const std::string& backup_path, const Metadata* metadata);

// The installer's URL: the metadata's site and installer name when it has both, else the
// burned-in ones; never a mix, and nothing put between the two parts.
std::string new_installer_url(const Metadata* metadata, const BurnedInSettings& settings);

}  // namespace pellora
