#pragma once
// Per-path misbehaviour of the site server: "PATH=KIND" rules from the command line and from an
// option file that is read again on every request.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace site_server {

struct Fault {
  enum class Kind {
    none,
    status,            // "404", "500", any three digits: that status with an HTML error page
    truncate,          // full Content-Length, half the body, then a clean close
    reset,             // half the body, then a reset connection
    chunked,           // chunked transfer without Content-Length
    chunked_truncate,  // chunked, half the body, then a clean close without the last chunk
    stall,             // headers, then silence until the client leaves
    drip,              // the body slowly: drip_bytes every drip_ms
    no_ranges,         // Range ignored: 200 with the whole body
    endless,           // 200, chunked, bytes for ever
    redirect,          // "redirect:TARGET": 302 to TARGET
  };
  Kind kind = Kind::none;
  int status = 200;
  std::string target;
  size_t drip_bytes = 1024;
  int drip_ms = 20;
};

// Parses one KIND ("404", "truncate", "drip", "drip:BYTES:MS", "redirect:/x", ...); nothing when
// it is not understood.
std::optional<Fault> parse_fault(const std::string& kind);

// Parses "PATH=KIND" (or "PATH KIND" in the option file) into the map; false when malformed.
bool add_fault_rule(const std::string& rule, std::map<std::string, Fault>& faults);

// The option file's rules: one per line, blank lines and lines starting with "#" ignored.
// Malformed lines are reported in `problems`.
std::map<std::string, Fault> parse_fault_file(const std::string& text,
                                              std::vector<std::string>& problems);

}  // namespace site_server
