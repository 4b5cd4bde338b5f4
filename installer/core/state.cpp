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

char run_mode_digit(RunMode mode) {
  switch (mode) {
    case RunMode::forced_update:
      return '1';
    case RunMode::start_app:
      return '2';
    case RunMode::reinstall:
      return '3';
    case RunMode::restore_backup:
      return '4';
    case RunMode::check_for_update:
      return '5';
    case RunMode::normal_start:
      break;
  }
  return '0';
}

std::string with_update_mode_argument(char digit, const std::string& args) {
  if (digit == '0') return args;
  return std::string(update_mode_literal) + digit + " " + args;
}

std::string with_update_mode_argument(RunMode mode, const std::string& args) {
  return with_update_mode_argument(run_mode_digit(mode), args);
}

}  // namespace pellora
