#include "installer/platform/windows/services_windows.h"
#include "installer/platform/windows/windows_common.h"

namespace pellora::platform::windows {
namespace {

class WindowsDebugOutput final : public DebugOutput {
 public:
  void write(std::string_view utf8_text) override {
    OutputDebugStringW(to_utf16(utf8_text).c_str());
  }
};

}  // namespace

DebugOutput* debug_output() {
  static WindowsDebugOutput instance;
  return &instance;
}

}  // namespace pellora::platform::windows
