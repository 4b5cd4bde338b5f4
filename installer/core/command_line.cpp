// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/core/command_line.h"

namespace pellora {
ParsedCommandLine parse_command_line(const std::string&) { throw std::logic_error("not built yet"); }
}  // namespace pellora
