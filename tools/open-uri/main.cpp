// open-uri URI [PARAMETERS]: asks the stand-in's shell to "open" URI with the parameter text,
// as a click on a link of the application would. The shell starts the entry executable of the
// package that registered the URI's scheme, detached, with the parameters split by the Windows
// rules; it inherits standard output and error, so what it prints shows here.

#include <iostream>
#include <string>

#include "standin/shell.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: open-uri URI [PARAMETERS]\n";
    return 2;
  }
  const std::string uri = argv[1];
  const std::string parameters = argc == 3 ? argv[2] : "";
  const standin::ShellResult started = standin::shell_execute("open", uri, parameters);
  if (started.result <= 32) {
    std::cerr << "open-uri: the shell cannot open " << uri << " (error " << started.win32_error
              << ")\n";
    return 1;
  }
  return 0;
}
