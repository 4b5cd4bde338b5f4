// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/deploy/certificate.h"

namespace pellora {
bool install_certificate() { throw std::logic_error("not built yet"); }
}  // namespace pellora
