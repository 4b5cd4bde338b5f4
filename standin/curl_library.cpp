#include "standin/curl_library.h"

#include <dlfcn.h>

#include <string>

#include "common/error.h"

namespace standin {

namespace hresult = pellora::platform::hresult;
using pellora::platform::PlatformError;
namespace {

PlatformError load_error(const std::string& what) {
  const char* detail = dlerror();
  return PlatformError(hresult::fail,
                       "libcurl could not be loaded (" + what + "): " + (detail ? detail : ""));
}

template <typename Function>
void resolve(void* handle, const char* name, Function& function) {
  void* address = dlsym(handle, name);
  if (address == nullptr) throw load_error(name);
  function = reinterpret_cast<Function>(address);
}

CurlLibrary load() {
  // Never closed: curl keeps global state for the rest of the process.
  void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw load_error("libcurl.so.4");
  CurlLibrary library{};
  resolve(handle, "curl_easy_init", library.easy_init);
  resolve(handle, "curl_easy_cleanup", library.easy_cleanup);
  resolve(handle, "curl_easy_setopt", library.easy_setopt);
  resolve(handle, "curl_easy_getinfo", library.easy_getinfo);
  resolve(handle, "curl_easy_strerror", library.easy_strerror);
  resolve(handle, "curl_multi_init", library.multi_init);
  resolve(handle, "curl_multi_cleanup", library.multi_cleanup);
  resolve(handle, "curl_multi_add_handle", library.multi_add_handle);
  resolve(handle, "curl_multi_remove_handle", library.multi_remove_handle);
  resolve(handle, "curl_multi_perform", library.multi_perform);
  resolve(handle, "curl_multi_poll", library.multi_poll);
  resolve(handle, "curl_multi_wakeup", library.multi_wakeup);
  resolve(handle, "curl_multi_info_read", library.multi_info_read);
  resolve(handle, "curl_multi_strerror", library.multi_strerror);
  resolve(handle, "curl_slist_append", library.slist_append);
  resolve(handle, "curl_slist_free_all", library.slist_free_all);
  decltype(&::curl_global_init) global_init = nullptr;
  resolve(handle, "curl_global_init", global_init);
  if (global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    throw PlatformError(hresult::fail, "libcurl could not be initialised");
  }
  return library;
}

}  // namespace

const CurlLibrary& curl_library() {
  // A throw leaves the static uninitialised, so a later call tries again.
  static const CurlLibrary library = load();
  return library;
}

}  // namespace standin
