#pragma once
// Runs build/bin/site-server on a folder for one test: a free port on 127.0.0.1, and faults as
// "PATH=KIND" rules in an option file the test may rewrite while the server runs.

#include <sys/types.h>

#include <string>
#include <vector>

namespace pellora::testing {

class SiteServer {
 public:
  // `binary` is the site-server executable; `root` the folder it serves.
  SiteServer(const std::string& binary, const std::string& root);
  ~SiteServer();
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // "http://127.0.0.1:<port>" + path (path starts with "/").
  std::string url(const std::string& path) const;
  // Replaces the rules of the option file (read again on every request).
  void set_faults(const std::vector<std::string>& rules) const;

 private:
  std::string fault_file_;
  std::string port_file_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace pellora::testing
