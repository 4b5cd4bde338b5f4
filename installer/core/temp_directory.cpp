// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/core/temp_directory.h"

namespace pellora {
std::string temp_directory() { throw std::logic_error("not built yet"); }
}  // namespace pellora
