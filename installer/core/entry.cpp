// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/core/entry.h"

namespace pellora {
int installer_main(int, char**) { throw std::logic_error("not built yet"); }
}  // namespace pellora
