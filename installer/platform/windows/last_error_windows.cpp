#include <string>

#include "installer/platform/backend.h"
#include "installer/platform/windows/windows_common.h"

namespace pellora::platform::windows {
namespace {

// Frees what FormatMessageW allocated.
struct LocalMemory {
  wchar_t* text = nullptr;
  ~LocalMemory() {
    if (text != nullptr) LocalFree(text);
  }
};

}  // namespace

std::string format_message(uint32_t code) {
  LocalMemory buffer;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer.text), 0, nullptr);
  if (length == 0) return {};
  return to_utf8(std::wstring_view(buffer.text, length));
}

}  // namespace pellora::platform::windows
