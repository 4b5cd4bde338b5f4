#pragma once

namespace pellora::platform {

// Something awaited that the window can cancel from its own thread (IAsyncInfo::Cancel).
class Cancellable {
 public:
  virtual ~Cancellable() = default;
  virtual void cancel() = 0;
};

}  // namespace pellora::platform
