#include "launcher/entry.h"

#include <string>
#include <vector>

#include "launcher/environment.h"
#include "launcher/fatal_error.h"
#include "launcher/jvm.h"
#include "launcher/platform/platform.h"

namespace launcher {
namespace {

// Written before the Java thread starts and only read afterwards.
const LauncherConfig* saved_config = nullptr;
std::vector<std::string> saved_arguments;

void java_thread_body() { run_jvm(*saved_config, saved_arguments, platform::system_platform()); }

}  // namespace

int run_launcher(const LauncherConfig& config, const std::vector<std::string>& arguments) {
  saved_config = &config;
  saved_arguments = arguments;

  if (config.console_app && config.utf8_console) platform::set_up_utf8_console();

  prepare_environment(config, platform::system_platform());

  if (config.run_on_main_thread) java_thread_body();
  if (!platform::run_on_new_thread(config.thread_stack_size, java_thread_body)) {
    fatal_error("CreateThread failed.");
  }
  return 0;
}

}  // namespace launcher
