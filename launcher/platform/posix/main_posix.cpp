// The process's entry point on POSIX: the arguments are UTF-8 already.

#include <signal.h>

#include <string>
#include <vector>

#include "launcher/platform/platform.h"

int main(int argc, char** argv) {
  // A closed standard error must not end the launcher before the JVM, which installs its own
  // handling for this signal, takes over.
  ::signal(SIGPIPE, SIG_IGN);
  // A file-size limit fails the write that reaches it (EFBIG), which the program handles,
  // instead of ending it with half a file on disk.
  ::signal(SIGXFSZ, SIG_IGN);
  return launcher::launcher_main(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
