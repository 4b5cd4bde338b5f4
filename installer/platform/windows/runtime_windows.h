#pragma once
// How the backend's services call the Windows Runtime: every failing call raises the platform
// error with its HRESULT, class factories come from the Runtime's activation, and texts cross
// as HSTRINGs. Any thread may call these.

#include <string>
#include <string_view>

#include "common/windows_runtime/foundation.h"
#include "installer/platform/windows/windows_common.h"

namespace pellora::platform::windows {

// Raises PlatformError(result, the system's text for it) when the result is a failure.
void check(HRESULT result);

// RoGetActivationFactory for `Factory` (an activation factory or a statics interface).
void activation_factory(const wchar_t* class_name, const runtime::InterfaceId& id, void** factory);
template <typename Factory>
runtime::ComPtr<Factory> activation_factory(const wchar_t* class_name) {
  runtime::ComPtr<Factory> factory;
  activation_factory(class_name, Factory::id, factory.put_void());
  return factory;
}

template <typename Interface, typename From>
runtime::ComPtr<Interface> query(const runtime::ComPtr<From>& from) {
  runtime::ComPtr<Interface> result;
  check(from.query(result));
  return result;
}

runtime::HString to_hstring(std::string_view utf8);
std::string to_utf8(const runtime::HString& text);

}  // namespace pellora::platform::windows
