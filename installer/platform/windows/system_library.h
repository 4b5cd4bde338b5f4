#pragma once
// A library of the system that is not a KnownDLL, loaded from the system folder and nowhere
// else, and its functions looked up by name. A program linked against such a library at load
// time gets whatever copy lies beside it (a downloaded installer: the Downloads folder), before
// any of its code runs; this way only the system's copy is ever used. Header-only, so that both
// programs' Windows backends share it.

#include <windows.h>

#include <type_traits>

namespace pellora::platform::windows {

class SystemLibrary {
 public:
  // LoadLibraryExW(name, LOAD_LIBRARY_SEARCH_SYSTEM32): the library's own dependencies come
  // from the system folder too. Never unloaded: its functions stay callable for the process.
  explicit SystemLibrary(const wchar_t* name)
      : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)),
        error_(module_ != nullptr ? ERROR_SUCCESS : GetLastError()) {}

  HMODULE module() const { return module_; }
  // Why the library could not be loaded (ERROR_SUCCESS when it was).
  DWORD error() const { return error_; }

  // The function `name`, typed as its declaration `Function` says; null when the library or
  // the function is missing.
  template <typename Function>
  Function* function(const char* name) const {
    static_assert(std::is_function_v<Function>);
    if (module_ == nullptr) return nullptr;
    // GetProcAddress's type stands for any function; the declaration gives the real one.
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
  DWORD error_;
};

}  // namespace pellora::platform::windows
