// A site's escape-hatch program for the end-to-end tests: it runs the program named by its
// first argument with the rest of its arguments, in its own place, so the started program
// inherits the environment the installer published for the escape hatch (the data-folder
// locations and the original command line). Its arguments come from the query of the escape
// hatch's URL, which is how a site steers its rescue.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "hatch-probe: no program to run\n");
    return 2;
  }
  std::fprintf(stderr, "hatch-probe: running %s\n", argv[1]);
  std::fflush(stderr);
  ::execv(argv[1], argv + 1);
  std::fprintf(stderr, "hatch-probe: cannot run %s: %s\n", argv[1], std::strerror(errno));
  return 1;
}
