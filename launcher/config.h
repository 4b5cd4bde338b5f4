#pragma once
// The launcher's burned-in configuration: the region's layout, the record parsed from it and
// the process-wide LauncherConfig.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

inline constexpr size_t region_size = 16464;
// The record may use every byte but the last: the region's final NUL always stays.
inline constexpr size_t record_capacity = region_size - 1;
inline constexpr size_t template_fill_size = 16384;

struct LauncherConfig {
  bool run_on_main_thread = false;
  bool console_app = false;
  bool utf8_console = false;
  bool reserved_flag = false;  // bit 3: kept for the record's sake, never consulted
  bool override_appdata_vars = false;
  uint32_t thread_stack_size = 0;
  std::string main_class;
  std::vector<std::string> jvm_options;
  std::vector<std::string> default_args;
};

struct ConfigParseResult {
  bool ok = false;
  LauncherConfig config;
  std::string error;  // what is wrong with the record when !ok
};

// Parses a configuration record from `record`, never reading outside it. A record that
// claims more than `record` holds, or a region that was never burned (still the template),
// gives !ok with a message for the user. Pure; safe on any input.
ConfigParseResult parse_launcher_record(std::span<const uint8_t> record);

// The region as built: the 15-character prefix, the 64 hex digits, 16384 underscores and a
// NUL. The prefix and the digits are kept apart so that the marker text exists only inside the
// assembled region, never as a literal of its own.
inline constexpr char region_prefix[] = "BURNED_IN_DATA ";
inline constexpr char region_digits[] =
    "af64800a3aa1f27ec27ffae50c69f51e59488dcc5e9ff7cf52e345ff9e64418b";

struct Region {
  char bytes[region_size];
};

constexpr Region make_region_template() {
  Region region{};
  size_t at = 0;
  for (size_t i = 0; i + 1 < sizeof region_prefix; ++i) region.bytes[at++] = region_prefix[i];
  for (size_t i = 0; i + 1 < sizeof region_digits; ++i) region.bytes[at++] = region_digits[i];
  for (size_t i = 0; i < template_fill_size; ++i) region.bytes[at++] = '_';
  region.bytes[at] = '\0';
  return region;
}

static_assert(sizeof region_prefix - 1 + sizeof region_digits - 1 + template_fill_size + 1 ==
              region_size);

}  // namespace launcher
