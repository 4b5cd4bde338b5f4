// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/core/app_launch.h"

namespace pellora {
void launch_app() { throw std::logic_error("not built yet"); }
void open_launch_uri(char, std::string) { throw std::logic_error("not built yet"); }
void start_updater() { throw std::logic_error("not built yet"); }
}  // namespace pellora
