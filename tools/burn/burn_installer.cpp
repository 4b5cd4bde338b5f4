// Placeholder until the installer's block writer is built.
#include <string>
#include <vector>

#include "tools/burn/burn_common.h"

namespace burn {

int burn_installer(const std::vector<std::string>&) { throw BurnError("burn installer is not built yet"); }

}  // namespace burn
