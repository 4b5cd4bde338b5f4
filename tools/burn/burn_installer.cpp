// burn installer IN OUT --site-base-url U --appinstaller F --launch-uri U
//                       --package-full-name N --app-exe E [--certificate F] [--installer F]
//                       [--aggressive-updates] [--escape-hatch]
//
// Writes the installer's settings over its block: eight NUL-terminated strings (site base URL,
// appinstaller file, launch URI, package full name, application executable, certificate file,
// installer file, and an eighth that the installer does not use) and a flag byte (bit 0:
// aggressive updates, bit 1: escape hatch). The rest of the block and of the program stay as
// they are.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/burn/burn_common.h"

namespace burn {
namespace {

constexpr std::string_view installer_marker = "BURNED_IN_DATA 3B7E1D92-5A4C-4F08-9E61-C2D4A87F0B35";
constexpr size_t installer_block_size = 16436;

struct StringOption {
  const char* name;
  bool required;
};

// In the order of the strings in the block; the eighth string is always written empty.
constexpr StringOption string_options[] = {
    {"--site-base-url", true},     {"--appinstaller", true}, {"--launch-uri", true},
    {"--package-full-name", true}, {"--app-exe", true},      {"--certificate", false},
    {"--installer", false},
};

const char* const usage =
    "usage: burn installer IN OUT --site-base-url U --appinstaller F --launch-uri U "
    "--package-full-name N --app-exe E [--certificate F] [--installer F] "
    "[--aggressive-updates] [--escape-hatch]";

bool is_string_option(const std::string& name) {
  for (const StringOption& option : string_options) {
    if (name == option.name) return true;
  }
  return false;
}

}  // namespace

int burn_installer(const std::vector<std::string>& arguments) {
  std::vector<std::string> paths;
  std::map<std::string, std::string> values;
  bool aggressive_updates = false;
  bool escape_hatch = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    if (argument == "--aggressive-updates") {
      aggressive_updates = true;
    } else if (argument == "--escape-hatch") {
      escape_hatch = true;
    } else if (argument.starts_with("--")) {
      std::string value;
      if (const size_t equals = argument.find('='); equals != std::string::npos) {
        value = argument.substr(equals + 1);
        argument.resize(equals);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        throw BurnError("option " + argument + " needs a value\n" + usage);
      }
      if (!is_string_option(argument)) throw BurnError("unknown option " + argument + "\n" + usage);
      if (!values.emplace(argument, value).second) {
        throw BurnError("option " + argument + " is given more than once");
      }
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() != 2) throw BurnError(std::string("expected IN and OUT\n") + usage);

  std::vector<uint8_t> record;
  for (const StringOption& option : string_options) {
    const auto found = values.find(option.name);
    if (found == values.end() && option.required) {
      throw BurnError(std::string("option ") + option.name + " is required\n" + usage);
    }
    const std::string value = found == values.end() ? std::string() : found->second;
    if (value.find('\0') != std::string::npos) {
      throw BurnError(std::string("the value of ") + option.name + " contains a NUL byte");
    }
    record.insert(record.end(), value.begin(), value.end());
    record.push_back(0);
  }
  record.push_back(0);  // the eighth string, unused
  record.push_back(
      static_cast<uint8_t>((aggressive_updates ? 0x01 : 0) | (escape_hatch ? 0x02 : 0)));
  if (record.size() > installer_block_size) {
    throw BurnError("the settings take " + std::to_string(record.size()) +
                    " bytes with their NUL bytes and the flag byte, but the block holds only " +
                    std::to_string(installer_block_size));
  }

  Program program = load_program(paths[0], installer_marker);
  if (program.block_offset + installer_block_size > program.bytes.size()) {
    throw BurnError("the settings block in " + paths[0] + " is cut short by the end of the file");
  }
  std::copy(record.begin(), record.end(), program.bytes.begin() + program.block_offset);
  write_atomically(paths[1], program.bytes, program.mode);
  std::printf("burned %zu bytes of installer settings into %s\n", record.size(), paths[1].c_str());
  return 0;
}

}  // namespace burn
