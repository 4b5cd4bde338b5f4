// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/settings/versions.h"

namespace pellora {
std::string installed_version() { throw std::logic_error("not built yet"); }
bool update_available(const Metadata*) { throw std::logic_error("not built yet"); }
}  // namespace pellora
