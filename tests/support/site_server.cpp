#include "tests/support/site_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace pellora::testing {

SiteServer::SiteServer(const std::string& binary, const std::string& root,
                       const std::vector<std::string>& faults) {
  const std::string base = root + "/.site-server-" + std::to_string(getpid()) + "-" +
                           std::to_string(reinterpret_cast<uintptr_t>(this));
  port_file_ = base + ".port";
  fault_file_ = base + ".faults";
  std::filesystem::remove(port_file_);
  set_faults({});

  std::vector<std::string> arguments = {binary,        "--root",   root,       "--port",   "0",
                                        "--port-file", port_file_, "--faults", fault_file_};
  for (const auto& rule : faults) {
    arguments.push_back("--fault");
    arguments.push_back(rule);
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < give_up) {
    std::ifstream file(port_file_);
    if (file >> port_ && port_ > 0) return;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("site-server ended at start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("site-server did not start");
}

SiteServer::~SiteServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  std::error_code ignored;
  std::filesystem::remove(port_file_, ignored);
  std::filesystem::remove(fault_file_, ignored);
}

std::string SiteServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void SiteServer::set_faults(const std::vector<std::string>& rules) const {
  const std::string temporary = fault_file_ + ".tmp";
  {
    std::ofstream file(temporary);
    for (const auto& rule : rules) file << rule << "\n";
  }
  std::filesystem::rename(temporary, fault_file_);
}

}  // namespace pellora::testing
