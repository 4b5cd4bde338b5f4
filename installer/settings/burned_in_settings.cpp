// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/settings/burned_in_settings.h"

namespace pellora {
BurnedInSettings burned_in_settings;
const std::string& burned_in_settings_problem() { static const std::string problem = "not built yet"; return problem; }
}  // namespace pellora
