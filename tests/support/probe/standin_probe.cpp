// A program the stand-in's tests start through the shell and from package folders, and the
// "application" of the installer's end-to-end tests. It writes what it saw (identity,
// elevation, arguments, the TREVALON_ environment) to the file named by TREVALON_PROBE_REPORT,
// in one rename so a reader never sees half a report.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "installer/platform/backend.h"
#include "installer/platform/error.h"
#include "standin/command_line_rules.h"

extern char** environ;

int main(int argc, char** argv) {
  const char* report_path = std::getenv("TREVALON_PROBE_REPORT");
  if (report_path == nullptr) return 2;
  auto* package = pellora::platform::backend_services().current_package;
  std::string report;
  report += "identity=" + std::to_string(package->get_current_package_full_name_result()) + "\n";
  try {
    report += "family=" + package->family_name() + "\n";
    report += "installed_path=" + package->installed_path() + "\n";
    report += "local_folder=" + package->local_folder() + "\n";
  } catch (const pellora::platform::PlatformError& error) {
    report += "error=" + error.message() + "\n";
  }
  const char* elevated = std::getenv("TREVALON_PLATFORM_ELEVATED");
  report += std::string("elevated=") + (elevated != nullptr ? elevated : "") + "\n";
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "TREVALON_", 9) == 0) report += std::string("env=") + *entry + "\n";
  }
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  report += "command_line=" + standin::command_line_of(arguments) + "\n";
  for (const std::string& argument : arguments) report += "arg=" + argument + "\n";
  const std::string temporary = std::string(report_path) + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << report;
    if (!out.flush()) return 1;
  }
  return std::rename(temporary.c_str(), report_path) == 0 ? 0 : 1;
}
