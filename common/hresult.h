#pragma once
// The Windows error codes the programs name: HRESULTs (what the Windows Runtime raises and the
// package deployment service reports) and Win32 error codes (GetLastError). Constants only, so
// that both programs and every backend share one home for each code.

#include <cstdint>

namespace pellora::platform {

namespace hresult {
inline constexpr uint32_t cancelled = 0x800704C7;       // HRESULT_FROM_WIN32(ERROR_CANCELLED)
inline constexpr uint32_t access_denied = 0x80070005;   // E_ACCESSDENIED
inline constexpr uint32_t invalid_arg = 0x80070057;     // E_INVALIDARG
inline constexpr uint32_t file_not_found = 0x80070002;  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
inline constexpr uint32_t disk_full = 0x80070070;       // HRESULT_FROM_WIN32(ERROR_DISK_FULL)
inline constexpr uint32_t file_too_large = 0x800700DF;  // HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)
inline constexpr uint32_t fail = 0x80004005;            // E_FAIL
inline constexpr uint32_t no_package = 0x80073D54;  // HRESULT_FROM_WIN32(APPMODEL_ERROR_NO_PACKAGE)
inline constexpr uint32_t install_downgrade = 0x80073D06;
inline constexpr uint32_t package_not_found = 0x80073CF1;
inline constexpr uint32_t busy_snapshot = 0x87AF0205;
inline constexpr uint32_t untrusted_root = 0x800B0109;
inline constexpr uint32_t insufficient_range_support = 0x80D05011;
inline constexpr uint32_t http_status_base = 0x80190000;  // + HTTP status
// WinHTTP's errors, as HRESULT_FROM_WIN32 gives them.
inline constexpr uint32_t timeout = 0x80072EE2;
inline constexpr uint32_t unrecognized_scheme = 0x80072EE6;
inline constexpr uint32_t name_not_resolved = 0x80072EE7;
inline constexpr uint32_t cannot_connect = 0x80072EFD;
inline constexpr uint32_t connection_aborted = 0x80072EFE;
inline constexpr uint32_t connection_reset = 0x80072EFF;
inline constexpr uint32_t invalid_ca = 0x80072F0D;
inline constexpr uint32_t redirect_failed = 0x80072F7C;
inline constexpr uint32_t secure_failure = 0x80072F8F;
}  // namespace hresult

namespace win32 {
inline constexpr uint32_t success = 0;
inline constexpr uint32_t file_not_found = 2;
inline constexpr uint32_t path_not_found = 3;
inline constexpr uint32_t access_denied = 5;
inline constexpr uint32_t not_enough_memory = 8;
inline constexpr uint32_t bad_format = 11;
inline constexpr uint32_t sharing_violation = 32;
inline constexpr uint32_t lock_violation = 33;
inline constexpr uint32_t file_exists = 80;
inline constexpr uint32_t disk_full = 112;
inline constexpr uint32_t insufficient_buffer = 122;
inline constexpr uint32_t invalid_name = 123;
inline constexpr uint32_t already_exists = 183;
inline constexpr uint32_t filename_too_long = 206;
inline constexpr uint32_t directory = 267;  // ERROR_DIRECTORY: the directory name is invalid
inline constexpr uint32_t no_association = 1155;
inline constexpr uint32_t cancelled = 1223;
inline constexpr uint32_t no_package = 15700;  // APPMODEL_ERROR_NO_PACKAGE
}  // namespace win32

// SHFileOperationW's own results for what the Win32 codes do not cover.
namespace shell_operation {
inline constexpr int same_file = 0x71;      // DE_SAMEFILE: source and destination are the same
inline constexpr int dest_subtree = 0x76;   // DE_DESTSUBTREE: the destination lies in the source
inline constexpr int invalid_files = 0x7C;  // DE_INVALIDFILES: the source path is invalid
}  // namespace shell_operation

// HRESULT_FROM_WIN32.
constexpr uint32_t hresult_from_win32(uint32_t code) {
  return code == 0 ? 0 : 0x80070000u | (code & 0xFFFFu);
}

}  // namespace pellora::platform
