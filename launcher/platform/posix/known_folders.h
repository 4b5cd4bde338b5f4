#pragma once
// How the stand-in answers the two known-folder lookups.

#include <functional>
#include <optional>
#include <string>

#include "launcher/platform/platform.h"
#include "standin/package_store.h"

namespace launcher::platform::posix {

using EnvironmentLookup = std::function<std::optional<std::string>(const std::string&)>;

// Redirected lookups give folders under the LocalCache of `package`'s family (the package this
// process runs from), and file-not-found without one. User lookups give the XDG data and config
// homes.
KnownFolderPath stand_in_known_folder_path(KnownFolder folder, KnownFolderMode mode,
                                           const std::optional<standin::Registration>& package,
                                           const EnvironmentLookup& environment);

}  // namespace launcher::platform::posix
