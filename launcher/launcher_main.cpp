// launcher: starts the packaged application's JVM with the configuration burned into this
// executable.

#include "launcher/config.h"
#include "launcher/entry.h"
#include "launcher/fatal_error.h"
#include "launcher/platform/platform.h"
#include "launcher/region.h"

namespace launcher {
namespace {

LauncherConfig parse_burned_in_config() {
  auto result = parse_launcher_record(burned_in_record());
  // Before any thread or JVM exists: nothing sensible can start from a broken record.
  if (!result.ok) fatal_error("%s", result.error.c_str());
  return std::move(result.config);
}

const LauncherConfig config = parse_burned_in_config();

}  // namespace

int launcher_main(const std::vector<std::string>& arguments) {
  return run_launcher(config, arguments);
}

}  // namespace launcher
