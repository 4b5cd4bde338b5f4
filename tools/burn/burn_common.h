#pragma once
// What both burn subcommands share: finding a block by its marker and writing the result
// atomically.

#include <sys/types.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace burn {

// A failure to report to the user; the tool exits non-zero.
class BurnError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Program {
  std::vector<uint8_t> bytes;
  mode_t mode = 0;
  size_t block_offset = 0;  // where the marker starts
};

// Reads the program at `path` and finds `marker` in it exactly once.
Program load_program(const std::string& path, std::string_view marker);

// Writes `bytes` to `path` with `mode` through a temporary file in the same folder and a
// rename, so that `path` never holds a half-written program.
void write_atomically(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode);

}  // namespace burn
