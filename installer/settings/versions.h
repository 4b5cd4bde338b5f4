#pragma once
#include <string>

#include "installer/settings/metadata.h"

namespace pellora {

// The version of the package this process runs from, as "Major.Minor.Build.Revision".
std::string installed_version();
// True when the site's version text differs from the installed one; false without metadata.
bool update_available(const Metadata* metadata);

}  // namespace pellora
