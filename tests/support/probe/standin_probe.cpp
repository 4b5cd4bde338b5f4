// The "application" of the installer's end-to-end tests. It writes what it saw (its package
// folder, whether it runs elevated, its command line and arguments) to the file named by
// TREVALON_PROBE_REPORT, in one rename so a reader never sees half a report.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "installer/platform/backend.h"
#include "standin/command_line_rules.h"

int main(int argc, char** argv) {
  const char* report_path = std::getenv("TREVALON_PROBE_REPORT");
  if (report_path == nullptr) return 2;
  std::string report;
  try {
    report += "installed_path=" +
              pellora::platform::backend_services().current_package->installed_path() + "\n";
  } catch (const pellora::platform::PlatformError& error) {
    report += "error=" + error.message() + "\n";
  }
  const char* elevated = std::getenv("TREVALON_PLATFORM_ELEVATED");
  report += std::string("elevated=") + (elevated != nullptr ? elevated : "") + "\n";
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  report += "command_line=" + standin::command_line_of(arguments) + "\n";
  for (const std::string& argument : arguments) report += "arg=" + argument + "\n";
  const std::string temporary = std::string(report_path) + ".partial";
  if (!(std::ofstream(temporary, std::ios::binary) << report)) return 1;
  return std::rename(temporary.c_str(), report_path) == 0 ? 0 : 1;
}
