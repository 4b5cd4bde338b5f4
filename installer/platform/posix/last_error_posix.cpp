#include "installer/platform/posix/win32_errors.h"
#include "standin/win32_errors.h"

namespace pellora::platform::posix {
namespace {

thread_local uint32_t last_error = 0;

}  // namespace

void set_last_error(uint32_t code) { last_error = code; }
uint32_t get_last_error() { return last_error; }
std::string format_message(uint32_t code) { return standin::win32_message(code); }

uint32_t set_last_error_from_errno(int error) {
  const uint32_t code = standin::win32_error_from_errno(error);
  set_last_error(code);
  return code;
}

}  // namespace pellora::platform::posix
