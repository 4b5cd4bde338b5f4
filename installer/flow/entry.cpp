#include "installer/flow/entry.h"

#include <exception>

#include "installer/core/burned_in_settings.h"
#include "installer/core/command_line.h"
#include "installer/core/diagnostics.h"
#include "installer/core/http_timeouts.h"
#include "installer/core/progress_window.h"
#include "installer/core/state.h"
#include "installer/core/temp_directory.h"
#include "installer/platform/backend.h"
#include "installer/platform/services.h"

namespace pellora {

void start_flow(void (*flow)()) {
  // Marked before the work starts, so that a close arriving at once already counts as a
  // cancellation of the work.
  set_flow_running(true);
  const bool submitted = platform::services().system->submit_work([flow] {
    try {
      flow();
    } catch (const std::exception& error) {
      // Last resort only: the flow reports its own failures.
      report_error(error.what());
    }
    set_flow_running(false);
  });
  if (!submitted) {
    // The flow's own first step failed: reported as the flow reports a platform error.
    const uint32_t code = platform::get_last_error();
    report_error("Exception whilst installing: [" + hex(platform::hresult_from_win32(code)) + "] " +
                 platform::format_message(code) + "\n");
  }
}

int run_installer(const std::string& command_line, void (*flow)()) {
  const ParsedCommandLine parsed = parse_command_line(command_line);
  update_mode = parsed.update_mode;
  forwarded_args = parsed.forwarded_args;

  create_progress_window();

  if (const std::string& problem = burned_in_settings_problem(); !problem.empty()) {
    report_error(problem);
  }
  // The log is a help, never a condition: a run that needs no temporary folder (starting the
  // application) goes on without it.
  if (const std::string folder = usable_temp_directory(); !folder.empty()) {
    open_log_file(folder + log_file_name);
  }
  platform::services().http->set_timeouts(http_timeouts());
  start_flow(flow);
  // As returning from the entry point ends every thread on Windows: leave without running
  // static destructors under the feet of the flow's thread.
  end_process(run_message_loop());
}

}  // namespace pellora
