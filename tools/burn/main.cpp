// burn: the packaging step. Writes a settings block into a built program.
//   burn installer IN OUT ...   (see burn_installer.cpp)
//   burn launcher IN OUT ...    (see burn_launcher.cpp)

#include <cstdio>
#include <string>
#include <vector>

#include "tools/burn/burn_common.h"

namespace burn {
int burn_installer(const std::vector<std::string>& arguments);
int burn_launcher(const std::vector<std::string>& arguments);
}  // namespace burn

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    std::fprintf(stderr, "usage: burn installer|launcher IN OUT [options]\n");
    return 2;
  }
  const std::string command = arguments.front();
  arguments.erase(arguments.begin());
  try {
    if (command == "installer") return burn::burn_installer(arguments);
    if (command == "launcher") return burn::burn_launcher(arguments);
    std::fprintf(stderr, "burn: unknown program kind '%s' (installer or launcher)\n",
                 command.c_str());
    return 2;
  } catch (const burn::BurnError& error) {
    std::fprintf(stderr, "burn: %s\n", error.what());
    return 1;
  }
}
