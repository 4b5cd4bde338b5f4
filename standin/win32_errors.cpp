#include "standin/win32_errors.h"

#include <cerrno>
#include <cstring>

#include "common/hresult.h"

namespace standin {

namespace win32 = pellora::platform::win32;

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

std::string win32_message(uint32_t code) {
  const char* text = nullptr;
  switch (code) {
    case win32::success:
      text = "The operation completed successfully.";
      break;
    case win32::file_not_found:
      text = "The system cannot find the file specified.";
      break;
    case win32::path_not_found:
      text = "The system cannot find the path specified.";
      break;
    case win32::access_denied:
      text = "Access is denied.";
      break;
    case win32::not_enough_memory:
      text = "Not enough memory resources are available to process this command.";
      break;
    case win32::bad_format:
      text = "An attempt was made to load a program with an incorrect format.";
      break;
    case win32::file_exists:
      text = "The file exists.";
      break;
    case win32::disk_full:
      text = "There is not enough space on the disk.";
      break;
    case win32::invalid_name:
      text = "The filename, directory name, or volume label syntax is incorrect.";
      break;
    case win32::already_exists:
      text = "Cannot create a file when that file already exists.";
      break;
    case win32::filename_too_long:
      text = "The filename or extension is too long.";
      break;
    case win32::directory:
      text = "The directory name is invalid.";
      break;
    case win32::no_association:
      text = "No application is associated with the specified file for this operation.";
      break;
    case win32::cancelled:
      text = "The operation was canceled by the user.";
      break;
    case win32::no_package:
      text = "The process has no package identity.";
      break;
    default:
      break;
  }
  if (text != nullptr) return std::string(text) + "\r\n";
  if ((code & 0x20000000u) != 0) {
    return std::string(std::strerror(static_cast<int>(code & 0xFFFFu))) + "\r\n";
  }
  return {};
}

}  // namespace standin
