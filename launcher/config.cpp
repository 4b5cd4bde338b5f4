#include "launcher/config.h"

#include <algorithm>

namespace launcher {
namespace {

// Walks the record front to back; every read is bounds-checked, so a record that claims
// more strings than it holds is reported instead of read past.
class RecordReader {
 public:
  explicit RecordReader(std::span<const uint8_t> record) : record_(record) {}

  bool read_byte(uint8_t& out) {
    if (position_ >= record_.size()) return false;
    out = record_[position_++];
    return true;
  }

  bool read_string(std::string& out) {
    const auto begin = record_.begin() + static_cast<std::ptrdiff_t>(position_);
    const auto nul = std::find(begin, record_.end(), uint8_t{0});
    if (nul == record_.end()) return false;
    out.assign(begin, nul);
    position_ = static_cast<size_t>(nul - record_.begin()) + 1;
    return true;
  }

  bool read_strings(size_t count, std::vector<std::string>& out) {
    for (size_t i = 0; i < count; ++i) {
      std::string entry;
      if (!read_string(entry)) return false;
      out.push_back(std::move(entry));
    }
    return true;
  }

 private:
  std::span<const uint8_t> record_;
  size_t position_ = 0;
};

ConfigParseResult failure(std::string message) {
  ConfigParseResult result;
  result.error = std::move(message);
  return result;
}

}  // namespace

ConfigParseResult parse_launcher_record(std::span<const uint8_t> record) {
  // A region that was never burned has no NUL before its final byte; say so plainly rather
  // than calling it a damaged record.
  if (std::find(record.begin(), record.end(), uint8_t{0}) == record.end()) {
    return failure(
        "This launcher has no configuration: its burned-in region still holds the template. "
        "Write one into it with 'burn launcher' before starting it.");
  }
  const std::string truncated =
      "The launcher's burned-in configuration is damaged: its record runs past the end of the "
      "region.";

  ConfigParseResult result;
  LauncherConfig& config = result.config;
  RecordReader reader(record);

  uint8_t flags = 0;
  if (!reader.read_byte(flags)) return failure(truncated);
  config.run_on_main_thread = (flags & 0x01) != 0;
  config.console_app = (flags & 0x02) != 0;
  config.utf8_console = (flags & 0x04) != 0;
  config.reserved_flag = (flags & 0x08) != 0;
  config.override_appdata_vars = (flags & 0x10) != 0;

  for (int i = 0; i < 4; ++i) {
    uint8_t byte = 0;
    if (!reader.read_byte(byte)) return failure(truncated);
    config.thread_stack_size = (config.thread_stack_size << 8) | byte;
  }

  if (!reader.read_string(config.main_class)) return failure(truncated);

  uint8_t option_count = 0;
  if (!reader.read_byte(option_count)) return failure(truncated);
  if (!reader.read_strings(option_count, config.jvm_options)) return failure(truncated);

  uint8_t argument_count = 0;
  if (!reader.read_byte(argument_count)) return failure(truncated);
  if (!reader.read_strings(argument_count, config.default_args)) return failure(truncated);

  result.ok = true;
  return result;
}

}  // namespace launcher
