#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "installer/core/uri.h"
#include "installer/platform/crypto.h"

namespace pellora {

// Both callers download a program to start, and no Windows executable exceeds 4 GiB: a larger
// or endless body is a failed download rather than a full disk.
inline constexpr uint64_t max_downloaded_program_bytes = uint64_t{4} << 30;

// Downloads `uri` into temp_directory() as `file_name`, showing `status_text`, a progress bar
// and an active Cancel button. Returns the local path. Raises PlatformError (the cancellation
// error when cancelled; a body over max_downloaded_program_bytes fails). Every caller starts
// what it downloads, so the file must pass check_site_signature before it takes its name.
std::string download_uri_to_tmp(const Uri& uri, const std::string& file_name,
                                const std::string& status_text);

// The same into the folder `folder()` names (called once, after the first log line). The local
// file is replaced only when the whole body has arrived; after a failure or a cancel it is as it
// was, and nothing is left beside it. A body longer than `max_bytes` (announced or received)
// fails. `check`, when given, sees the SHA-256 of the whole body before the file is committed;
// what it raises fails the download.
using DownloadCheck = std::function<void(const platform::Sha256Digest&)>;
std::string download_uri_to_folder(const Uri& uri, const std::function<std::string()>& folder,
                                   const std::string& file_name, const std::string& status_text,
                                   uint64_t max_bytes = UINT64_MAX,
                                   const DownloadCheck& check = nullptr);

}  // namespace pellora
