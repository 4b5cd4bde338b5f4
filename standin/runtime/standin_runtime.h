#pragma once
// The stand-in Windows Runtime: a test double, never shipped. Registered in the test Wine
// prefix, it answers the Windows build's activation of PackageManager, Uri and ApplicationData
// so that the real backend code runs end to end under Wine. It lives in a folder of its own in
// the prefix (the DLL's folder), which also holds what drives it and what it records:
//   deployments.txt  one line per deployment call of a process, in order (deployment_standin.cpp)
//   record.txt       one line per call received, appended
//   LocalState, RoamingState, LocalCache: ApplicationData.Current's folders for a process
//                    without package identity (not created)
//   store\           the stand-in store that deployments marked "store" (or all, without a
//                    deployments.txt) work on; standin-deploy beside the DLL does them
//   calls\           one folder per such deployment: its request, progress and result

#include <functional>
#include <optional>
#include <string>

#include "common/windows_runtime/application_model.h"
#include "common/windows_runtime/deployment.h"
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

// The store's folder, with a trailing backslash.
std::wstring store_folder();

struct StoreOutcome {
  AsyncStatus status;
  HRESULT error;  // IAsyncInfo::ErrorCode
  HRESULT code;   // the result's ExtendedErrorCode
  bool registered;
  std::wstring text;
};

// Adds the package of an .appinstaller URI (`adds`) or removes one by full name in the store,
// passing its progress on; a true `cancelled` asks the deployment to stop. Blocks until it ends.
StoreOutcome store_deployment(bool adds, const std::wstring& target,
                              const std::function<void(const DeploymentProgress&)>& progress,
                              const std::function<bool()>& cancelled);

struct StorePackage {
  std::wstring full_name;
  std::wstring name;
  std::wstring family_name;
  std::wstring folder;  // no trailing backslash
  PackageVersion version{};
};

// The registered package of the store whose folder holds this process's program.
std::optional<StorePackage> current_process_package();

}  // namespace standin::runtime
