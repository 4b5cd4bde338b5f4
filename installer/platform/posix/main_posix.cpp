// The process's entry point on POSIX: the set-up only this OS needs, then the shared entry.

#include <signal.h>

#include <string>
#include <vector>

#include "installer/platform/backend.h"
#include "installer/platform/posix/terminal_view.h"
#include "standin/command_line_rules.h"

int main(int argc, char** argv) {
  // A log whose reader went away must not end the installer: the write fails and is dropped.
  // The programs it starts get the default back (the shell resets it).
  ::signal(SIGPIPE, SIG_IGN);
  // A file-size limit fails the write that reaches it (EFBIG), which the program handles,
  // instead of ending it with half a file on disk.
  ::signal(SIGXFSZ, SIG_IGN);
  // Before any thread exists: the window's event thread takes these signals with sigwait.
  pellora::platform::posix::block_window_signals();
  // Windows hands a program its command line as one text, exactly as it was given.
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return pellora::installer_main(standin::command_line_of(arguments));
}
