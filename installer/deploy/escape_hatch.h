#pragma once
#include "installer/settings/metadata.h"

namespace pellora {

// Runs the site's rescue program when its condition holds; true when it was started.
bool run_escape_hatch(const Metadata* metadata);

}  // namespace pellora
