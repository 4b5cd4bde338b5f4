// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/deploy/uninstall.h"

namespace pellora {
bool uninstall() { throw std::logic_error("not built yet"); }
}  // namespace pellora
