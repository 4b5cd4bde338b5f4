#pragma once
// Windows.ApplicationModel as the backend calls it: Package.Current, its installed location,
// and its id's version and family name. Slots the backend never calls are declared without their
// parameters and must not be called.

#include "common/windows_runtime/storage.h"

namespace pellora::platform::windows::runtime {

inline constexpr const wchar_t* package_class = L"Windows.ApplicationModel.Package";

struct PackageVersion {
  UINT16 major;
  UINT16 minor;
  UINT16 build;
  UINT16 revision;
};
static_assert(sizeof(PackageVersion) == 8);

struct IPackageId : IInspectable {
  static constexpr InterfaceId id = iid_package_id;
  virtual HRESULT STDMETHODCALLTYPE get_Name() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Version(PackageVersion* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Architecture() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResourceId() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Publisher() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PublisherId() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FullName() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FamilyName(HSTRING* value) = 0;
};

struct IPackage : IInspectable {
  static constexpr InterfaceId id = iid_package;
  virtual HRESULT STDMETHODCALLTYPE get_Id(IPackageId** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_InstalledLocation(IStorageFolder** value) = 0;
  // Slots 8 and 9 follow (IsFramework, Dependencies).
};

struct IPackageStatics : IInspectable {
  static constexpr InterfaceId id = iid_package_statics;
  virtual HRESULT STDMETHODCALLTYPE get_Current(IPackage** value) = 0;
};

}  // namespace pellora::platform::windows::runtime
