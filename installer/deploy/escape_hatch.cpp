// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/deploy/escape_hatch.h"

namespace pellora {
bool run_escape_hatch(const Metadata*) { throw std::logic_error("not built yet"); }
}  // namespace pellora
