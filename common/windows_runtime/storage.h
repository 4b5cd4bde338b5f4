#pragma once
// Windows.Storage as the backend calls it: ApplicationData.Current's local, roaming and
// local-cache folders, and a folder's path (IStorageItem, reached by QueryInterface on the
// folder). Slots the backend never calls are declared without their parameters and must not be
// called.

#include "common/windows_runtime/foundation.h"

namespace pellora::platform::windows::runtime {

inline constexpr const wchar_t* application_data_class = L"Windows.Storage.ApplicationData";

// The default interface of StorageFolder: only passed along here.
struct IStorageFolder : IInspectable {
  static constexpr InterfaceId id = iid_storage_folder;
};

struct IStorageItem : IInspectable {
  static constexpr InterfaceId id = iid_storage_item;
  virtual HRESULT STDMETHODCALLTYPE RenameAsyncOverloadDefaultOptions() = 0;
  virtual HRESULT STDMETHODCALLTYPE RenameAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAsyncOverloadDefaultOptions() = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBasicPropertiesAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Name() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) = 0;
  // Slots 13 to 15 follow (Attributes, DateCreated, IsOfType).
};

struct IApplicationData : IInspectable {
  static constexpr InterfaceId id = iid_application_data;
  virtual HRESULT STDMETHODCALLTYPE get_Version() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetVersionAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearAllAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearAsync() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LocalSettings() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RoamingSettings() = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LocalFolder(IStorageFolder** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RoamingFolder(IStorageFolder** value) = 0;
  // Slots 14 to 18 follow (TemporaryFolder ... RoamingStorageQuota).
};

struct IApplicationData2 : IInspectable {
  static constexpr InterfaceId id = iid_application_data2;
  virtual HRESULT STDMETHODCALLTYPE get_LocalCacheFolder(IStorageFolder** value) = 0;
};

struct IApplicationDataStatics : IInspectable {
  static constexpr InterfaceId id = iid_application_data_statics;
  virtual HRESULT STDMETHODCALLTYPE get_Current(IApplicationData** value) = 0;
};

}  // namespace pellora::platform::windows::runtime
