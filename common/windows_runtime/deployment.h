#pragma once
// Windows.Management.Deployment as the backend calls it: PackageManager (add from an
// .appinstaller file, remove, the default volume), the operation those return
// (Windows.Foundation's IAsyncOperationWithProgress<DeploymentResult, DeploymentProgress>), its
// two handlers and its result. Slots the backend never calls are declared without their
// parameters and must not be called.

#include "common/windows_runtime/foundation.h"

namespace pellora::platform::windows::runtime {

inline constexpr const wchar_t* package_manager_class =
    L"Windows.Management.Deployment.PackageManager";

enum class DeploymentProgressState : INT32 { queued = 0, processing = 1 };

struct DeploymentProgress {
  DeploymentProgressState state;
  UINT32 percentage;
};
static_assert(sizeof(DeploymentProgress) == 8);

// AddPackageByAppInstallerOptions, a flags enum.
inline constexpr UINT32 force_target_app_shutdown = 0x40;

struct IDeploymentResult : IInspectable {
  static constexpr InterfaceId id = iid_deployment_result;
  virtual HRESULT STDMETHODCALLTYPE get_ErrorText(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ActivityId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ExtendedErrorCode(HRESULT* value) = 0;
};

struct IDeploymentResult2 : IInspectable {
  static constexpr InterfaceId id = iid_deployment_result2;
  virtual HRESULT STDMETHODCALLTYPE get_IsRegistered(boolean* value) = 0;
};

struct IDeploymentOperation;

// AsyncOperationProgressHandler<DeploymentResult, DeploymentProgress>: a delegate, so IUnknown
// only; the progress comes by value.
struct IDeploymentProgressHandler : IUnknown {
  static constexpr InterfaceId id = iid_deployment_progress_handler;
  virtual HRESULT STDMETHODCALLTYPE Invoke(IDeploymentOperation* operation,
                                           DeploymentProgress progress) = 0;
};

// AsyncOperationWithProgressCompletedHandler<DeploymentResult, DeploymentProgress>.
struct IDeploymentCompletedHandler : IUnknown {
  static constexpr InterfaceId id = iid_deployment_completed_handler;
  virtual HRESULT STDMETHODCALLTYPE Invoke(IDeploymentOperation* operation, AsyncStatus status) = 0;
};

// IAsyncOperationWithProgress<DeploymentResult, DeploymentProgress>; its IAsyncInfo is reached
// by QueryInterface.
struct IDeploymentOperation : IInspectable {
  static constexpr InterfaceId id = iid_deployment_operation;
  virtual HRESULT STDMETHODCALLTYPE put_Progress(IDeploymentProgressHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Progress(IDeploymentProgressHandler** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IDeploymentCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IDeploymentCompletedHandler** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(IDeploymentResult** results) = 0;
};

struct IPackageVolume : IInspectable {
  static constexpr InterfaceId id = iid_package_volume;
  virtual HRESULT STDMETHODCALLTYPE get_IsOffline() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsSystemVolume() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MountPoint() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
  // Slots 10 to 25 follow (PackageStorePath ... FindPackageByUserSecurityIdPackageFullName).
};

// The default interface of PackageManager.
struct IPackageManager : IInspectable {
  static constexpr InterfaceId id = iid_package_manager;
  virtual HRESULT STDMETHODCALLTYPE AddPackageAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE UpdatePackageAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING package_full_name,
                                                       IDeploymentOperation** operation) = 0;
  // Slots 9 to 21 follow (StagePackageAsync ... FindPackageByUserSecurityIdPackageFullName).
};

struct IPackageManager3 : IInspectable {
  static constexpr InterfaceId id = iid_package_manager3;
  virtual HRESULT STDMETHODCALLTYPE AddPackageVolumeAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE AddPackageToVolumeAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearPackageStatus() = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterPackageWithAppDataVolumeAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackageVolumeByName() = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPackageVolumes() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDefaultPackageVolume(IPackageVolume** volume) = 0;
  // Slots 13 to 20 follow (MovePackageToVolumeAsync ... StageUserDataWithOptionsAsync).
};

struct IPackageManager6 : IInspectable {
  static constexpr InterfaceId id = iid_package_manager6;
  virtual HRESULT STDMETHODCALLTYPE ProvisionPackageForAllUsersAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE AddPackageByAppInstallerFileAsync(
      IUriRuntimeClass* app_installer_file_uri, UINT32 options, IPackageVolume* target_volume,
      IDeploymentOperation** operation) = 0;
  // Slots 8 to 11 follow (RequestAddPackageByAppInstallerFileAsync ... RequestAddPackageAsync).
};

}  // namespace pellora::platform::windows::runtime
