#pragma once
#include <functional>
#include <string>

#include "installer/core/uri.h"

namespace pellora {

// Downloads `uri` into temp_directory() as `file_name`, showing `status_text`, a progress bar
// and an active Cancel button. Returns the local path. Raises PlatformError (the cancellation
// error when cancelled).
std::string download_uri_to_tmp(const Uri& uri, const std::string& file_name,
                                const std::string& status_text);

// The same into the folder `folder()` names (called once, after the first log line). The local
// file is created empty at once and receives the body only when the whole of it has arrived;
// after a failure or a cancel it stays empty.
std::string download_uri_to_folder(const Uri& uri, const std::function<std::string()>& folder,
                                   const std::string& file_name, const std::string& status_text);

}  // namespace pellora
