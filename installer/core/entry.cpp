#include "installer/core/entry.h"

#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "installer/core/command_line.h"
#include "installer/core/main_flow.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/platform/posix/command_line_rules.h"
#include "installer/platform/posix/terminal_view.h"
#include "installer/platform/services.h"
#include "installer/settings/burned_in_settings.h"

namespace pellora {
namespace {

void start_main_flow() {
  // Marked before the thread starts, so that a close arriving at once already counts as a
  // cancellation of the work.
  set_flow_running(true);
  std::thread([] {
    try {
      main_flow();
    } catch (const std::exception& error) {
      // Last resort only: the flow reports its own failures.
      report_error(error.what());
    }
    set_flow_running(false);
  }).detach();
}

}  // namespace

int installer_main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParsedCommandLine parsed =
      parse_command_line(platform::posix::join_command_line(arguments));
  update_mode = parsed.update_mode;
  forwarded_args = parsed.forwarded_args;

  // Before any thread exists: the window's event thread takes these signals with sigwait.
  platform::posix::block_window_signals();
  platform::services() = platform::backend_services();
  create_progress_window();

  if (const std::string& problem = burned_in_settings_problem(); !problem.empty()) {
    report_error(problem);
  }
  start_main_flow();
  const int exit_code = run_message_loop();
  // As returning from the entry point ends every thread on Windows: leave without running
  // static destructors under the feet of the flow's thread.
  platform::services().system->exit_process(exit_code);
  return exit_code;  // not reached
}

}  // namespace pellora
