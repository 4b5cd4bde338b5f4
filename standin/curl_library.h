#pragma once
// libcurl, loaded on first use instead of at program start. Its dependencies (two TLS stacks,
// Kerberos, LDAP, SSH, IDN ...) double the start-up time of every run, and the most frequent run,
// starting the installed application, makes no HTTP request at all.

#include <curl/curl.h>

namespace standin {

struct CurlLibrary {
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_cleanup) easy_cleanup;
  decltype(&::curl_easy_setopt) easy_setopt;
  decltype(&::curl_easy_getinfo) easy_getinfo;
  decltype(&::curl_easy_strerror) easy_strerror;
  decltype(&::curl_multi_init) multi_init;
  decltype(&::curl_multi_cleanup) multi_cleanup;
  decltype(&::curl_multi_add_handle) multi_add_handle;
  decltype(&::curl_multi_remove_handle) multi_remove_handle;
  decltype(&::curl_multi_perform) multi_perform;
  decltype(&::curl_multi_poll) multi_poll;
  decltype(&::curl_multi_wakeup) multi_wakeup;
  decltype(&::curl_multi_info_read) multi_info_read;
  decltype(&::curl_multi_strerror) multi_strerror;
  decltype(&::curl_slist_append) slist_append;
  decltype(&::curl_slist_free_all) slist_free_all;
};

// The library's functions, loaded and globally initialised on the first call (any thread).
// Raises PlatformError when libcurl cannot be loaded.
const CurlLibrary& curl_library();

}  // namespace standin
