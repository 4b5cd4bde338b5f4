// Placeholder until the launcher's block writer is built.
#include <string>
#include <vector>

#include "tools/burn/burn_common.h"

namespace burn {

int burn_launcher(const std::vector<std::string>&) { throw BurnError("burn launcher is not built yet"); }

}  // namespace burn
