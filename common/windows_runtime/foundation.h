#pragma once
// Windows.Foundation as the backend calls it: activation factories, IAsyncInfo (the status,
// error code and cancel of every asynchronous operation) and Uri, made by its factory.
// Slots the backend never calls are declared without their parameters and must not be called.

#include "common/windows_runtime/com.h"

namespace pellora::platform::windows::runtime {

struct IActivationFactory : IInspectable {
  static constexpr InterfaceId id = iid_activation_factory;
  virtual HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) = 0;
};

enum class AsyncStatus : INT32 { started = 0, completed = 1, canceled = 2, error = 3 };

struct IAsyncInfo : IInspectable {
  static constexpr InterfaceId id = iid_async_info;
  virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* error_code) = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// The default interface of Windows.Foundation.Uri.
struct IUriRuntimeClass : IInspectable {
  static constexpr InterfaceId id = iid_uri_runtime_class;
  virtual HRESULT STDMETHODCALLTYPE get_AbsoluteUri(HSTRING* value) = 0;
  // Slots 7 to 22 follow (DisplayUri ... CombineUri): not called here.
};

struct IUriRuntimeClassFactory : IInspectable {
  static constexpr InterfaceId id = iid_uri_runtime_class_factory;
  virtual HRESULT STDMETHODCALLTYPE CreateUri(HSTRING uri, IUriRuntimeClass** instance) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateWithRelativeUri() = 0;
};

inline constexpr const wchar_t* uri_class = L"Windows.Foundation.Uri";

}  // namespace pellora::platform::windows::runtime
