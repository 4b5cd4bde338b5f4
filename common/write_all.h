#pragma once
// Writing a whole text to a file descriptor, going on after short writes and interruptions.

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

// Writes as much of `text` as the reader takes within `patience`, in pieces a pipe with room
// takes without blocking; whatever is left then is dropped. For records that must never stall
// their writer: a reader that stopped reading, or went away, costs at most `patience`. False
// when something was dropped.
inline bool write_within(int fd, std::string_view text, std::chrono::milliseconds patience) {
  using Clock = std::chrono::steady_clock;
  const auto give_up = Clock::now() + patience;
  while (!text.empty()) {
    pollfd ready{fd, POLLOUT, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
    const int polled = ::poll(&ready, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0 || (ready.revents & (POLLERR | POLLNVAL))) return false;
    const ssize_t written = ::write(fd, text.data(), std::min<size_t>(text.size(), PIPE_BUF));
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace standin
