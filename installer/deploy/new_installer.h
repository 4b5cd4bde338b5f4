#pragma once
#include <string>

#include "installer/core/burned_in_settings.h"
#include "installer/settings/metadata.h"

namespace pellora {

// Downloads the site's installer into temp_directory() as "installer.exe" and returns its path.
// Raises the cancellation error when the download is cancelled; a failed download ends in
// report_error.
std::string download_new_installer(const Metadata* metadata);
// Starts a downloaded installer in restore_backup mode with `backup_path`.
void start_new_installer(const std::string& installer, const std::string& backup_path);

// The installer's URL: the metadata's site and installer name when it has both, else the
// burned-in ones; never a mix, and nothing put between the two parts.
std::string new_installer_url(const Metadata* metadata, const BurnedInSettings& settings);

}  // namespace pellora
