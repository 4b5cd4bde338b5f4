// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/core/process_launch.h"

namespace pellora {
void launch_process(const std::string&, const std::string&, bool) { throw std::logic_error("not built yet"); }
std::string package_location() { throw std::logic_error("not built yet"); }
void launch_temp_copy(const std::string&, const std::string&, const std::string&) { throw std::logic_error("not built yet"); }
}  // namespace pellora
