#pragma once
// What every caller and implementer of the Windows Runtime's ABI here shares: GUIDs from the
// plain IDs of interface_ids.h, owning holders for interface pointers and HSTRINGs, and a base
// for objects that implement interfaces (reference count, QueryInterface, agility).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// These need windows.h first.
#include <inspectable.h>
#include <winstring.h>

#include <atomic>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "common/windows_runtime/interface_ids.h"

namespace pellora::platform::windows::runtime {

inline GUID guid(const InterfaceId& id) {
  GUID result;
  result.Data1 = id.data1;
  result.Data2 = id.data2;
  result.Data3 = id.data3;
  for (int i = 0; i < 8; ++i) result.Data4[i] = id.data4[i];
  return result;
}

inline bool same_id(REFIID iid, const InterfaceId& id) { return IsEqualGUID(iid, guid(id)); }

// Interfaces that IUnknown and IInspectable stand for, which the system headers declare.
inline constexpr InterfaceId iid_unknown = {
    0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr InterfaceId iid_inspectable = {
    0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};

// An owned reference to an interface; the interface type names its ID as `Interface::id`.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes a reference the caller already holds.
  static ComPtr attach(Interface* pointer) {
    ComPtr result;
    result.pointer_ = pointer;
    return result;
  }
  // Adds a reference of its own.
  static ComPtr share(Interface* pointer) {
    if (pointer != nullptr) pointer->AddRef();
    return attach(pointer);
  }
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }

  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  void reset() {
    if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
  }
  // For an [out] parameter: drops what it held first.
  Interface** put() {
    reset();
    return &pointer_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  // Ownership passes to the receiver of an [out] parameter.
  Interface* release() { return std::exchange(pointer_, nullptr); }

  // QueryInterface; the HRESULT, and the other interface on success.
  template <typename Other>
  HRESULT query(ComPtr<Other>& other) const {
    return pointer_->QueryInterface(guid(Other::id), other.put_void());
  }

 private:
  Interface* pointer_ = nullptr;
};

// An owned HSTRING (null is the empty string).
class HString {
 public:
  HString() = default;
  // Copies the text; a failure to allocate leaves the string empty and returns its HRESULT
  // from create().
  static HRESULT create(std::wstring_view text, HString& out) {
    return WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), out.put());
  }
  ~HString() { reset(); }
  HString(HString&& other) noexcept : string_(std::exchange(other.string_, nullptr)) {}
  HString& operator=(HString&& other) noexcept {
    if (this != &other) {
      reset();
      string_ = std::exchange(other.string_, nullptr);
    }
    return *this;
  }
  HString(const HString&) = delete;
  HString& operator=(const HString&) = delete;

  HSTRING get() const { return string_; }
  HSTRING* put() {
    reset();
    return &string_;
  }
  std::wstring_view view() const {
    UINT32 length = 0;
    const wchar_t* text = WindowsGetStringRawBuffer(string_, &length);
    return text != nullptr ? std::wstring_view(text, length) : std::wstring_view();
  }
  void reset() {
    if (string_ != nullptr) WindowsDeleteString(std::exchange(string_, nullptr));
  }

 private:
  HSTRING string_ = nullptr;
};

// The base of an object that implements `Interfaces` (each derived from IUnknown, the first
// one standing for the object's identity). The object is agile: it may be called from any
// thread, so whatever it holds must be safe for that. Made only by make(); deletes itself at
// its last Release.
template <typename... Interfaces>
class Implements : public Interfaces... {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    void* found = nullptr;
    if (same_id(iid, iid_unknown) || same_id(iid, iid_agile_object) ||
        (same_id(iid, iid_inspectable) && (std::is_base_of_v<IInspectable, Interfaces> || ...))) {
      found = identity();
    }
    ((found = found != nullptr ? found : if_is<Interfaces>(iid)), ...);
    if (found == nullptr) return E_NOINTERFACE;
    AddRef();
    *out = found;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  Implements() = default;
  virtual ~Implements() = default;

 private:
  template <typename First, typename...>
  struct FirstOf {
    using Type = First;
  };
  void* identity() { return static_cast<typename FirstOf<Interfaces...>::Type*>(this); }
  template <typename Interface>
  void* if_is(REFIID iid) {
    return same_id(iid, Interface::id) ? static_cast<Interface*>(this) : nullptr;
  }

  std::atomic<ULONG> references_{1};
};

// The IInspectable part of an object whose interfaces derive from it. Nothing here asks a
// Runtime object for its interfaces or class name.
template <typename... Interfaces>
class ImplementsInspectable : public Implements<Interfaces...> {
 public:
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
    *count = 0;
    *iids = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
    *name = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
    *level = BaseTrust;
    return S_OK;
  }
};

// A new object of an Implements class, owned by the returned pointer.
template <typename Object, typename... Arguments>
ComPtr<Object> make(Arguments&&... arguments) {
  return ComPtr<Object>::attach(new Object(std::forward<Arguments>(arguments)...));
}

}  // namespace pellora::platform::windows::runtime
