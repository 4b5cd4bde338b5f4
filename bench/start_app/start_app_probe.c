/* The benchmark's application: writes the CLOCK_MONOTONIC time at which its main began, in
 * nanoseconds, to the file $TREVALON_BENCH_STAMP (through a rename, so a reader never sees half
 * a number), and ends. Plain C and nothing else, so its own start costs as little as it can. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const char* path = getenv("TREVALON_BENCH_STAMP");
  if (path == NULL) return 2;
  char partial[4096];
  snprintf(partial, sizeof partial, "%s.partial", path);
  FILE* file = fopen(partial, "w");
  if (file == NULL) return 1;
  fprintf(file, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
  if (fclose(file) != 0) return 1;
  return rename(partial, path) == 0 ? 0 : 1;
}
