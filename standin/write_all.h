#pragma once
// Writing a whole text to a file descriptor, going on after short writes and interruptions.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

namespace standin {

// False, with errno telling why, when a write fails.
inline bool write_all(int fd, std::string_view text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace standin
