#include "tests/support/site_server.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace pellora::testing {

SiteServer::SiteServer(const std::string& binary, const std::string& root) {
  const std::string base = root + "/.site-server-" + std::to_string(getpid()) + "-" +
                           std::to_string(reinterpret_cast<uintptr_t>(this));
  port_file_ = base + ".port";
  fault_file_ = base + ".faults";
  std::filesystem::remove(port_file_);
  set_faults({});

  std::vector<std::string> arguments = {binary,        "--root",   root,       "--port",   "0",
                                        "--port-file", port_file_, "--faults", fault_file_};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, binary.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start site-server");
  }
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(std::ifstream(port_file_) >> port_) || port_ <= 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > give_up) {
      throw std::runtime_error("site-server did not start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

SiteServer::~SiteServer() {
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
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
