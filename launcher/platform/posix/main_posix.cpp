// The process's entry point on POSIX: the arguments are UTF-8 already.

#include <string>
#include <vector>

#include "launcher/platform/platform.h"

int main(int argc, char** argv) {
  return launcher::launcher_main(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
