// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/deploy/install.h"

namespace pellora {
bool do_install() { throw std::logic_error("not built yet"); }
void request_install_permission() { throw std::logic_error("not built yet"); }
}  // namespace pellora
