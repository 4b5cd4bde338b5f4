#pragma once
#include <string_view>

namespace pellora::platform {

// OutputDebugString: one record per call. Any thread.
class DebugOutput {
 public:
  virtual ~DebugOutput() = default;
  virtual void write(std::string_view utf8_text) = 0;
};

}  // namespace pellora::platform
