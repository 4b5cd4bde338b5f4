#include "installer/platform/window_surface.h"

namespace pellora::platform {

void WindowSurface::wait(std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::unique_lock lock(wait_mutex_);
  if (deadline) {
    wait_signal_.wait_until(lock, *deadline, [this] { return woken_; });
  } else {
    wait_signal_.wait(lock, [this] { return woken_; });
  }
  woken_ = false;
}

void WindowSurface::wake() {
  {
    std::lock_guard lock(wait_mutex_);
    woken_ = true;
  }
  wait_signal_.notify_all();
}

}  // namespace pellora::platform
