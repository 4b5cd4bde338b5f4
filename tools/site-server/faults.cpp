#include "tools/site-server/faults.h"

#include <cctype>
#include <cstdlib>

namespace site_server {
namespace {

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  const size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

std::optional<Fault> parse_fault(const std::string& kind) {
  Fault fault;
  if (kind.size() == 3 && all_digits(kind)) {
    fault.kind = Fault::Kind::status;
    fault.status = std::atoi(kind.c_str());
    if (fault.status < 100) return std::nullopt;
    return fault;
  }
  if (kind.rfind("redirect:", 0) == 0 && kind.size() > 9) {
    fault.kind = Fault::Kind::redirect;
    fault.target = kind.substr(9);
    return fault;
  }
  if (kind == "drip" || kind.rfind("drip:", 0) == 0) {
    fault.kind = Fault::Kind::drip;
    if (kind.size() > 4) {
      const std::string rest = kind.substr(5);
      const size_t colon = rest.find(':');
      const std::string bytes = rest.substr(0, colon);
      const std::string ms = colon == std::string::npos ? "" : rest.substr(colon + 1);
      if (!all_digits(bytes) || (colon != std::string::npos && !all_digits(ms))) {
        return std::nullopt;
      }
      fault.drip_bytes = std::strtoul(bytes.c_str(), nullptr, 10);
      if (!ms.empty()) fault.drip_ms = std::atoi(ms.c_str());
      if (fault.drip_bytes == 0) return std::nullopt;
    }
    return fault;
  }
  static const std::map<std::string, Fault::Kind> names = {
      {"none", Fault::Kind::none},
      {"truncate", Fault::Kind::truncate},
      {"reset", Fault::Kind::reset},
      {"chunked", Fault::Kind::chunked},
      {"chunked-truncate", Fault::Kind::chunked_truncate},
      {"stall", Fault::Kind::stall},
      {"no-ranges", Fault::Kind::no_ranges},
      {"endless", Fault::Kind::endless},
  };
  auto found = names.find(kind);
  if (found == names.end()) return std::nullopt;
  fault.kind = found->second;
  return fault;
}

bool add_fault_rule(const std::string& rule, std::map<std::string, Fault>& faults) {
  // The path never holds a space or "=" of its own; the kind may ("redirect:/a?b=c").
  const size_t split = rule.find_first_of("= \t");
  if (split == std::string::npos || split == 0 || rule[0] != '/') return false;
  auto fault = parse_fault(trim(rule.substr(split + 1)));
  if (!fault) return false;
  faults[rule.substr(0, split)] = *fault;
  return true;
}

std::map<std::string, Fault> parse_fault_file(const std::string& text,
                                              std::vector<std::string>& problems) {
  std::map<std::string, Fault> faults;
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    const std::string line = trim(text.substr(position, end - position));
    position = end + 1;
    if (line.empty() || line[0] == '#') continue;
    if (!add_fault_rule(line, faults)) problems.push_back(line);
  }
  return faults;
}

}  // namespace site_server
