#pragma once
// How the stand-in answers the two known-folder lookups for this process.

#include <functional>
#include <optional>
#include <string>

#include "launcher/platform/platform.h"

namespace launcher::platform::posix {

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;

// Redirected lookups give folders under the package family's LocalCache when the process
// (whose executable's real path is `executable_real_path`) has package identity, and
// kFileNotFound when it has none. User lookups give the XDG data and config homes.
KnownFolderPath stand_in_known_folder_path(KnownFolder folder, KnownFolderMode mode,
                                           const std::string& executable_real_path,
                                           const EnvironmentLookup& environment);

}  // namespace launcher::platform::posix
