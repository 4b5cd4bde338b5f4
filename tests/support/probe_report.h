#pragma once
// What a test program recorded: its "key=value" lines, in order.

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pellora::testing {

struct ProbeReport {
  std::multimap<std::string, std::string> entries;

  static ProbeReport parse(const std::string& text) {
    ProbeReport report;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      const size_t equals = line.find('=');
      report.entries.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return report;
  }
  // The first value of `key`, or "<missing>".
  std::string value(const std::string& key) const {
    const auto found = entries.find(key);
    return found == entries.end() ? "<missing>" : found->second;
  }
  std::vector<std::string> values(const std::string& key) const {
    std::vector<std::string> found;
    for (auto [it, end] = entries.equal_range(key); it != end; ++it) found.push_back(it->second);
    return found;
  }
};

}  // namespace pellora::testing
