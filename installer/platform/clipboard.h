#pragma once
#include <string>

namespace pellora::platform {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // SetContentWithOptions + Flush. Raises PlatformError when the clipboard refuses the text.
  virtual void set_text_and_flush(const std::string& text) = 0;
};

}  // namespace pellora::platform
