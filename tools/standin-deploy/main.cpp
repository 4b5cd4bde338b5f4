// standin-deploy CALL_FOLDER: runs one deployment of the stand-in store for the stand-in Windows
// Runtime, which Wine cannot give a Linux program's exit code back to; everything goes through
// files in CALL_FOLDER. Its "request" holds "root=" (the store's root), then "add=URI" or
// "remove=FULL-NAME". While the deployment runs, each progress report is appended to "progress"
// ("STATE PERCENT"), and a file named "cancel" cancels it. At the end "result" appears in one
// rename: status=, error=, code=, registered=, a "removed=FULL-NAME" line per package the call
// unregistered, a "scheme=SCHEME<tab>FULL-NAME<tab>EXECUTABLE" line per launch URI scheme whose
// handler changed (the names empty when it has none any more), and text= last.

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "common/deployment.h"
#include "standin/deployment.h"
#include "standin/package_store.h"
#include "standin/platform_root.h"

namespace {

using pellora::platform::AsyncStatus;
using pellora::platform::DeploymentProgress;

std::set<std::string> registered_names() {
  std::set<std::string> names;
  for (const standin::Registration& registration : standin::installed_packages()) {
    names.insert(registration.full_name);
  }
  return names;
}

// Every scheme's handler as "FULL-NAME<tab>EXECUTABLE".
std::map<std::string, std::string> scheme_handlers() {
  std::map<std::string, std::string> handlers;
  DIR* folder = ::opendir(standin::protocols_folder().c_str());
  if (folder == nullptr) return handlers;
  while (const dirent* entry = ::readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    if (const auto handler = standin::protocol_handler(entry->d_name)) {
      handlers[entry->d_name] = handler->full_name + "\t" + handler->executable;
    }
  }
  ::closedir(folder);
  return handlers;
}

// A text on one line: the result file is read line by line.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: standin-deploy CALL_FOLDER\n");
    return 2;
  }
  const std::string call = argv[1];
  std::ifstream request(call + "/request");
  std::string root, add, remove;
  for (std::string line; std::getline(request, line);) {
    if (line.rfind("root=", 0) == 0) root = line.substr(5);
    if (line.rfind("add=", 0) == 0) add = line.substr(4);
    if (line.rfind("remove=", 0) == 0) remove = line.substr(7);
  }
  if (root.empty() || add.empty() == remove.empty()) {
    std::fprintf(stderr, "standin-deploy: %s/request is incomplete\n", call.c_str());
    return 2;
  }
  ::setenv("TREVALON_PLATFORM_ROOT", root.c_str(), 1);

  const std::set<std::string> names_before = registered_names();
  const std::map<std::string, std::string> handlers_before = scheme_handlers();
  pellora::platform::PackageManager& manager = *standin::package_manager();
  const auto operation =
      add.empty() ? manager.remove_package(remove)
                  : manager.add_package_by_app_installer_file(
                        add, pellora::platform::add_option_force_target_app_shutdown, "");
  FILE* progress = std::fopen((call + "/progress").c_str(), "a");
  operation->set_progress_handler([progress](const DeploymentProgress& report) {
    if (progress == nullptr) return;
    std::fprintf(progress, "%d %u\n", static_cast<int>(report.state), report.percentage);
    std::fflush(progress);
  });
  std::atomic<bool> done{false};
  std::thread watch([&] {
    const std::string cancel = call + "/cancel";
    while (!done) {
      if (::access(cancel.c_str(), F_OK) == 0) {
        operation->cancel();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const AsyncStatus status = operation->wait();
  done = true;
  watch.join();
  if (progress != nullptr) std::fclose(progress);

  const pellora::platform::DeploymentResult result = operation->get_results();
  std::ostringstream out;
  out << "status=" << static_cast<int>(status) << "\n";
  out << "error=" << operation->error_code() << "\n";
  out << "code=" << result.extended_error_code << "\n";
  out << "registered=" << (result.is_registered ? 1 : 0) << "\n";
  const std::set<std::string> names_after = registered_names();
  for (const std::string& name : names_before) {
    if (names_after.count(name) == 0) out << "removed=" << name << "\n";
  }
  const std::map<std::string, std::string> handlers_after = scheme_handlers();
  for (const auto& [scheme, handler] : handlers_after) {
    const auto before = handlers_before.find(scheme);
    if (before == handlers_before.end() || before->second != handler) {
      out << "scheme=" << scheme << "\t" << handler << "\n";
    }
  }
  for (const auto& [scheme, handler] : handlers_before) {
    if (handlers_after.count(scheme) == 0) out << "scheme=" << scheme << "\t\t\n";
  }
  out << "text=" << one_line(result.error_text) << "\n";
  const std::string temporary = call + "/result.tmp";
  std::ofstream(temporary, std::ios::binary) << out.str();
  return std::rename(temporary.c_str(), (call + "/result").c_str()) == 0 ? 0 : 1;
}
