#include "installer/platform/windows/runtime_windows.h"

#include <objbase.h>
#include <roapi.h>

#include <string>

namespace pellora::platform::windows {
namespace {

// The flow calls the Runtime from thread-pool threads, which belong to no apartment, and the
// main thread's apartment is single-threaded. Such threads may call the Runtime only while the
// process has a multithreaded apartment: this one lives as long as the process.
void keep_multithreaded_apartment() {
  static const bool kept = [] {
    CO_MTA_USAGE_COOKIE cookie = nullptr;
    check(CoIncrementMTAUsage(&cookie));
    return true;
  }();
  (void)kept;
}

}  // namespace

void check(HRESULT result) {
  if (FAILED(result)) {
    const auto code = static_cast<uint32_t>(result);
    std::string text = message_text(code);
    if (text.empty()) text = "Windows Runtime error " + std::to_string(code);
    throw PlatformError(code, text);
  }
}

void activation_factory(const wchar_t* class_name, const runtime::InterfaceId& id, void** factory) {
  keep_multithreaded_apartment();
  runtime::HString name;
  check(runtime::HString::create(class_name, name));
  const GUID iid = runtime::guid(id);
  check(RoGetActivationFactory(name.get(), iid, factory));
}

runtime::HString to_hstring(std::string_view utf8) {
  runtime::HString text;
  check(runtime::HString::create(to_utf16(utf8), text));
  return text;
}

std::string to_utf8(const runtime::HString& text) { return to_utf8(text.view()); }

}  // namespace pellora::platform::windows
