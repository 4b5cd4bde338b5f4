#include <cerrno>
#include <cstring>
#include <string>

#include "installer/platform/backend.h"
#include "installer/platform/posix/win32_errors.h"

namespace pellora::platform::posix {
namespace {

thread_local uint32_t last_error = 0;

// The errno that best matches a Win32 code, for the message text.
int errno_for(uint32_t code) {
  switch (code) {
    case win32::file_not_found:
    case win32::path_not_found:
      return ENOENT;
    case win32::access_denied:
      return EACCES;
    case win32::not_enough_memory:
      return ENOMEM;
    case win32::bad_format:
      return ENOEXEC;
    case win32::disk_full:
      return ENOSPC;
    case win32::invalid_name:
      return EINVAL;
    case win32::already_exists:
      return EEXIST;
    case win32::filename_too_long:
      return ENAMETOOLONG;
    default:
      return 0;
  }
}

}  // namespace

void set_last_error(uint32_t code) { last_error = code; }
uint32_t get_last_error() { return last_error; }

std::string format_message(uint32_t code) {
  switch (code) {
    case win32::success:
      return "The operation completed successfully.\r\n";
    case win32::no_association:
      return "No application is associated with the specified file for this operation.\r\n";
    case win32::cancelled:
      return "The operation was canceled by the user.\r\n";
    case win32::no_package:
      return "The process has no package identity.\r\n";
    default:
      break;
  }
  int error = errno_for(code);
  if (error == 0 && (code & 0x20000000u)) error = static_cast<int>(code & 0xFFFFu);
  if (error == 0) return "";
  return std::string(std::strerror(error)) + "\r\n";
}

uint32_t win32_error_from_errno(int error) {
  switch (error) {
    case 0:
      return win32::success;
    case ENOENT:
      return win32::file_not_found;
    case ENOTDIR:
      return win32::path_not_found;
    case EACCES:
    case EPERM:
    case EROFS:
      return win32::access_denied;
    case ENOMEM:
      return win32::not_enough_memory;
    case ENOEXEC:
      return win32::bad_format;
    case ENOSPC:
      return win32::disk_full;
    case EINVAL:
      return win32::invalid_name;
    case EEXIST:
      return win32::already_exists;
    case ENAMETOOLONG:
      return win32::filename_too_long;
    default:
      return 0x20000000u | static_cast<uint32_t>(error);  // customer bit: no Win32 equivalent
  }
}

uint32_t set_last_error_from_errno(int error) {
  const uint32_t code = win32_error_from_errno(error);
  set_last_error(code);
  return code;
}

}  // namespace pellora::platform::posix
