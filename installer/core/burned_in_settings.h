#pragma once
// The settings the packaging step burns into the installer's block.

#include <cstddef>
#include <cstdint>
#include <string>

namespace pellora {

inline constexpr size_t settings_block_size = 16436;

struct BurnedInSettings {
  std::string site_base_url;
  std::string appinstaller_file_name;
  std::string launch_uri;
  std::string package_full_name;
  std::string app_exe_name;
  std::string certificate_file_name;
  std::string installer_file_name;
  std::string eighth;  // part of the layout, unused
  bool aggressive_updates = false;
  bool escape_hatch_enabled = false;
  // The vendor's P-256 public key (X then Y, 64 bytes) that the site's files must be signed
  // with; empty when none was burned in and the site is not verified. Burned after the flag
  // byte, where programs that do not know it never read.
  std::string update_key;
};

// What introduces the update key after the flag byte: this text, 128 hexadecimal digits, a NUL.
inline constexpr char update_key_tag[] = "update-key-p256=";

// The process-wide settings, built from the block before main runs. Tests may replace them.
extern BurnedInSettings burned_in_settings;

// Empty when the block holds a valid record; otherwise why the installer cannot start (an
// unconfigured or malformed block).
const std::string& burned_in_settings_problem();

struct ParsedSettingsBlock {
  BurnedInSettings settings;  // empty when there is a problem
  std::string problem;        // empty when the block holds a valid record
};

// Reads the record from a block of `size` bytes, never looking past its end. Pure; any thread.
ParsedSettingsBlock parse_settings_block(const uint8_t* block, size_t size);

}  // namespace pellora
