// Activation, Uri, ApplicationData and the files the stand-in shares with its test.

#include <cstdio>
#include <mutex>
#include <string_view>

#include "common/windows/wide_text.h"
#include "common/windows_runtime/storage.h"
#include "standin/runtime/standin_runtime.h"

namespace standin::runtime {
namespace {

class Uri final : public ImplementsInspectable<IUriRuntimeClass> {
 public:
  explicit Uri(std::wstring text) : text_(std::move(text)) {}
  HRESULT STDMETHODCALLTYPE get_AbsoluteUri(HSTRING* value) override {
    return WindowsCreateString(text_.data(), static_cast<UINT32>(text_.size()), value);
  }

 private:
  const std::wstring text_;
};

class UriFactory final : public ImplementsInspectable<IActivationFactory, IUriRuntimeClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    *instance = nullptr;
    return E_NOTIMPL;  // a Uri is always made from a text
  }
  HRESULT STDMETHODCALLTYPE CreateUri(HSTRING text, IUriRuntimeClass** instance) override {
    *instance = nullptr;
    UINT32 length = 0;
    const wchar_t* raw = WindowsGetStringRawBuffer(text, &length);
    if (length == 0) return E_INVALIDARG;
    *instance = make<Uri>(std::wstring(raw, length)).release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateWithRelativeUri() override { return E_NOTIMPL; }
};

class StorageFolder final : public ImplementsInspectable<IStorageFolder, IStorageItem> {
 public:
  explicit StorageFolder(std::wstring path) : path_(std::move(path)) {}
  HRESULT STDMETHODCALLTYPE RenameAsyncOverloadDefaultOptions() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RenameAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteAsyncOverloadDefaultOptions() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBasicPropertiesAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Name() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Path(HSTRING* value) override {
    return WindowsCreateString(path_.data(), static_cast<UINT32>(path_.size()), value);
  }

 private:
  const std::wstring path_;
};

// A packaged process gets its family's folders in the store; others the DLL's own.
HRESULT folder(const wchar_t* name, IStorageFolder** value) {
  const std::optional<StorePackage> package = current_process_package();
  const std::wstring base =
      package ? store_folder() + L"data\\" + package->family_name + L"\\" : own_folder();
  *value = make<StorageFolder>(base + name).release();
  return S_OK;
}

HRESULT copy_string(const std::wstring& text, HSTRING* value) {
  return WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), value);
}

class PackageId final : public ImplementsInspectable<IPackageId> {
 public:
  explicit PackageId(StorePackage package) : package_(std::move(package)) {}
  HRESULT STDMETHODCALLTYPE get_Name() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Version(PackageVersion* value) override {
    *value = package_.version;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Architecture() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ResourceId() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Publisher() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_PublisherId() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_FullName() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_FamilyName(HSTRING* value) override {
    return copy_string(package_.family_name, value);
  }

 private:
  const StorePackage package_;
};

class Package final : public ImplementsInspectable<IPackage> {
 public:
  explicit Package(StorePackage package) : package_(std::move(package)) {}
  HRESULT STDMETHODCALLTYPE get_Id(IPackageId** value) override {
    *value = make<PackageId>(package_).release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_InstalledLocation(IStorageFolder** value) override {
    *value = make<StorageFolder>(package_.folder).release();
    return S_OK;
  }

 private:
  const StorePackage package_;
};

class PackageFactory final : public ImplementsInspectable<IActivationFactory, IPackageStatics> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    *instance = nullptr;
    return E_NOTIMPL;  // static only
  }
  HRESULT STDMETHODCALLTYPE get_Current(IPackage** value) override {
    *value = nullptr;
    const std::optional<StorePackage> package = current_process_package();
    if (!package) return no_package;
    *value = make<Package>(*package).release();
    return S_OK;
  }
  // HRESULT_FROM_WIN32(APPMODEL_ERROR_NO_PACKAGE), as Package.Current fails without identity.
  static constexpr HRESULT no_package = static_cast<HRESULT>(0x80073D54);
};

class ApplicationData final : public ImplementsInspectable<IApplicationData, IApplicationData2> {
 public:
  HRESULT STDMETHODCALLTYPE get_Version() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetVersionAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearAllAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearAsync() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LocalSettings() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_RoamingSettings() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LocalFolder(IStorageFolder** value) override {
    return folder(L"LocalState", value);
  }
  HRESULT STDMETHODCALLTYPE get_RoamingFolder(IStorageFolder** value) override {
    return folder(L"RoamingState", value);
  }
  HRESULT STDMETHODCALLTYPE get_LocalCacheFolder(IStorageFolder** value) override {
    return folder(L"LocalCache", value);
  }
};

class ApplicationDataFactory final
    : public ImplementsInspectable<IActivationFactory, IApplicationDataStatics> {
 public:
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    *instance = nullptr;
    return E_NOTIMPL;  // static only
  }
  HRESULT STDMETHODCALLTYPE get_Current(IApplicationData** value) override {
    *value = make<ApplicationData>().release();
    return S_OK;
  }
};

}  // namespace

std::wstring own_folder() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<const wchar_t*>(&own_folder), &module);
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

void record(const std::wstring& line) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  const std::string text = pellora::platform::windows::to_utf8(line) + '\n';
  if (FILE* file = _wfopen((own_folder() + L"record.txt").c_str(), L"ab")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
}

std::wstring uri_text(IUriRuntimeClass* uri) {
  HString text;
  if (uri == nullptr || FAILED(uri->get_AbsoluteUri(text.put()))) return L"(none)";
  return std::wstring(text.view());
}

}  // namespace standin::runtime

using namespace standin::runtime;

extern "C" __declspec(dllexport) HRESULT WINAPI
    DllGetActivationFactory(HSTRING class_id, IActivationFactory** factory) {
  *factory = nullptr;
  UINT32 length = 0;
  const wchar_t* raw = WindowsGetStringRawBuffer(class_id, &length);
  const std::wstring_view name(raw, length);
  if (name == package_manager_class) {
    *factory = package_manager_factory().release();
  } else if (name == uri_class) {
    *factory = make<UriFactory>().release();
  } else if (name == application_data_class) {
    *factory = make<ApplicationDataFactory>().release();
  } else if (name == package_class) {
    *factory = make<PackageFactory>().release();
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return S_OK;
}
