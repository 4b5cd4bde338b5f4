// ShellExecute: the stand-in's shell.

#include "installer/platform/posix/services_posix.h"
#include "installer/platform/posix/terminal_view.h"
#include "installer/platform/posix/win32_errors.h"
#include "standin/shell.h"

namespace pellora::platform::posix {
namespace {

class PosixShell final : public Shell {
 public:
  intptr_t shell_execute(const std::string& verb, const std::string& file,
                         const std::string& parameters, int show_command) override {
    const standin::ShellResult started =
        standin::shell_execute(verb, file, parameters, [show_command] {
          // A program that shows itself writes to the terminal our view draws on.
          if (show_command != sw_hide) terminal_view().yield_terminal();
        });
    set_last_error(started.win32_error);
    return started.result;
  }
};

}  // namespace

Shell* shell() {
  static PosixShell instance;
  return &instance;
}

}  // namespace pellora::platform::posix
