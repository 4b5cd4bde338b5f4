// launcher: starts the packaged application's JVM with the configuration burned into this
// executable.

#include "launcher/config.h"
#include "launcher/entry.h"
#include "launcher/fatal_error.h"
#include "launcher/region.h"

namespace {

launcher::LauncherConfig parse_burned_in_config() {
  auto result = launcher::parse_launcher_record(launcher::burned_in_record());
  // Before any thread or JVM exists: nothing sensible can start from a broken record.
  if (!result.ok) launcher::fatal_error("%s", result.error.c_str());
  return std::move(result.config);
}

const launcher::LauncherConfig config = parse_burned_in_config();

}  // namespace

int main(int argc, char** argv) { return launcher::launcher_main(config, argc, argv); }
