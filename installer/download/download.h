#pragma once
#include <string>

#include "installer/core/uri.h"

namespace pellora {

// Downloads `uri` into temp_directory() as `file_name`, showing `status_text`, a progress bar
// and an active Cancel button. Returns the local path. Raises PlatformError (the cancellation
// error when cancelled).
std::string download_uri_to_tmp(const Uri& uri, const std::string& file_name,
                                const std::string& status_text);

}  // namespace pellora
