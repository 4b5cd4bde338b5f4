#pragma once
// The stand-in Windows Runtime: a test double, never shipped. Registered in the test Wine
// prefix, it answers the Windows build's activation of PackageManager, Uri and ApplicationData
// so that the real backend code runs end to end under Wine. It lives in a folder of its own in
// the prefix (the DLL's folder), which also holds what drives it and what it records:
//   deployments.txt  one line per deployment call of a process, in order (deployment_standin.cpp)
//   record.txt       one line per call received, appended
//   LocalState, RoamingState, LocalCache: ApplicationData.Current's folders (not created)

#include <string>

#include "common/windows_runtime/foundation.h"

namespace standin::runtime {

using namespace pellora::platform::windows::runtime;

// The DLL's folder, with a trailing backslash.
std::wstring own_folder();

// Appends one line (UTF-16 in, UTF-8 out) to record.txt; any thread.
void record(const std::wstring& line);

// The text of a Uri made by this DLL (its factory keeps the text as given).
std::wstring uri_text(IUriRuntimeClass* uri);

ComPtr<IActivationFactory> package_manager_factory();

}  // namespace standin::runtime
