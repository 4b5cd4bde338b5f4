// burn launcher IN OUT --main-class C [--jvm-option O]... [--default-arg A]...
//     [--stack-size N] [--run-on-main-thread] [--console-app] [--utf8-console]
//     [--override-appdata-vars]
// Writes the launcher's configuration record over its burned-in region.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/burn/burn_common.h"

namespace burn {
namespace {

constexpr std::string_view launcher_marker =
    "BURNED_IN_DATA af64800a3aa1f27ec27ffae50c69f51e59488dcc5e9ff7cf52e345ff9e64418b";
constexpr size_t region_size = 16464;
constexpr size_t record_capacity = region_size - 1;  // the final NUL stays
constexpr size_t max_list_entries = 255;

struct LauncherRecord {
  uint8_t flags = 0;
  uint32_t stack_size = 0;
  std::optional<std::string> main_class;
  std::vector<std::string> jvm_options;
  std::vector<std::string> default_args;
};

uint32_t parse_stack_size(const std::string& text) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw BurnError("--stack-size takes a number of bytes from 0 to 4294967295, not '" + text +
                    "'");
  }
  return value;
}

LauncherRecord parse_options(const std::vector<std::string>& options) {
  LauncherRecord record;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= options.size()) throw BurnError(option + " needs a value");
      return options[++i];
    };
    if (option == "--main-class") {
      record.main_class = value();
    } else if (option == "--jvm-option") {
      record.jvm_options.push_back(value());
    } else if (option == "--default-arg") {
      record.default_args.push_back(value());
    } else if (option == "--stack-size") {
      record.stack_size = parse_stack_size(value());
    } else if (option == "--run-on-main-thread") {
      record.flags |= 0x01;
    } else if (option == "--console-app") {
      record.flags |= 0x02;
    } else if (option == "--utf8-console") {
      record.flags |= 0x04;
    } else if (option == "--override-appdata-vars") {
      record.flags |= 0x10;
    } else {
      throw BurnError("unknown option '" + option + "'");
    }
  }
  if (!record.main_class) throw BurnError("--main-class is required");
  if (record.jvm_options.size() > max_list_entries) {
    throw BurnError("at most 255 --jvm-option values fit in the record");
  }
  if (record.default_args.size() > max_list_entries) {
    throw BurnError("at most 255 --default-arg values fit in the record");
  }
  return record;
}

std::vector<uint8_t> encode(const LauncherRecord& record) {
  std::vector<uint8_t> bytes;
  auto text = [&](const std::string& value) {
    bytes.insert(bytes.end(), value.begin(), value.end());
    bytes.push_back(0);
  };
  bytes.push_back(record.flags);
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<uint8_t>(record.stack_size >> shift));
  }
  text(*record.main_class);
  bytes.push_back(static_cast<uint8_t>(record.jvm_options.size()));
  for (const auto& option : record.jvm_options) text(option);
  bytes.push_back(static_cast<uint8_t>(record.default_args.size()));
  for (const auto& argument : record.default_args) text(argument);
  return bytes;
}

}  // namespace

int burn_launcher(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) {
    throw BurnError(
        "usage: burn launcher IN OUT --main-class C [--jvm-option O]... [--default-arg A]... "
        "[--stack-size N] [--run-on-main-thread] [--console-app] [--utf8-console] "
        "[--override-appdata-vars]");
  }
  const std::string& in = arguments[0];
  const std::string& out = arguments[1];
  const LauncherRecord record =
      parse_options(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
  const std::vector<uint8_t> bytes = encode(record);
  if (bytes.size() > record_capacity) {
    throw BurnError("the configuration takes " + std::to_string(bytes.size()) +
                    " bytes; the launcher has room for " + std::to_string(record_capacity));
  }

  Program program = load_program(in, launcher_marker);
  const size_t start = program.block_offset;
  if (program.bytes.size() - start < region_size || program.bytes[start + record_capacity] != 0) {
    throw BurnError("the burned-in region of " + in + " is not intact");
  }
  // Clear the unused rest of the record area so that no template text stays behind.
  std::fill(program.bytes.begin() + static_cast<std::ptrdiff_t>(start),
            program.bytes.begin() + static_cast<std::ptrdiff_t>(start + record_capacity), 0);
  std::copy(bytes.begin(), bytes.end(), program.bytes.begin() + static_cast<std::ptrdiff_t>(start));
  write_atomically(out, program.bytes, program.mode);
  return 0;
}

}  // namespace burn
