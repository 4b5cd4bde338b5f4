// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/appdata/restore.h"

namespace pellora {
void restore_appdata(std::string) { throw std::logic_error("not built yet"); }
}  // namespace pellora
