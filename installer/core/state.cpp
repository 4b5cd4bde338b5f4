#include "installer/core/state.h"

namespace pellora {

char update_mode = '0';
std::string forwarded_args;

RunMode run_mode_of(char digit) {
  switch (digit) {
    case '1':
      return RunMode::forced_update;
    case '2':
      return RunMode::start_app;
    case '3':
      return RunMode::reinstall;
    case '4':
      return RunMode::restore_backup;
    case '5':
      return RunMode::check_for_update;
    default:
      return RunMode::normal_start;
  }
}

std::string with_update_mode_argument(char digit, const std::string& args) {
  if (digit == '0') return args;
  return std::string(update_mode_literal) + digit + " " + args;
}

}  // namespace pellora
