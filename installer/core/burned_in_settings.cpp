#include "installer/core/burned_in_settings.h"

#include <array>
#include <cstring>
#include <string_view>

namespace pellora {
namespace {

using SettingsBlock = std::array<unsigned char, settings_block_size>;

constexpr size_t marker_length = 51;
constexpr std::string_view filler_pattern = "+-------";

// The packaging step searches the program for the marker and must find it exactly once, so
// its text lives only in these compile-time functions: nothing here may leave a second copy of
// it in the program, not even a comparison constant.
consteval std::string_view marker() {
  return "BURNED_IN_DATA 3B7E1D92-5A4C-4F08-9E61-C2D4A87F0B35";
}
static_assert(marker().size() == marker_length);
static_assert(marker_length + 2048 * filler_pattern.size() + 1 == settings_block_size);

consteval SettingsBlock initial_block() {
  SettingsBlock block{};
  size_t at = 0;
  for (char c : marker()) block[at++] = static_cast<unsigned char>(c);
  while (at < settings_block_size - 1) {
    for (char c : filler_pattern) block[at++] = static_cast<unsigned char>(c);
  }
  block[at] = 0;
  return block;
}

constexpr uint64_t fnv1a(const unsigned char* bytes, size_t length) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (size_t i = 0; i < length; ++i) {
    hash ^= bytes[i];
    hash *= 0x100000001b3u;
  }
  return hash;
}

consteval uint64_t marker_hash() {
  unsigned char bytes[marker_length] = {};
  for (size_t i = 0; i < marker_length; ++i) bytes[i] = static_cast<unsigned char>(marker()[i]);
  return fnv1a(bytes, marker_length);
}

constexpr std::string_view unconfigured_problem =
    "This installer has not been configured by the packaging step: its settings block was "
    "never written, so it does not know which application to install.";
constexpr std::string_view malformed_problem =
    "This installer's settings block is damaged: its settings do not end inside the block, so "
    "it cannot be used. Run the packaging step again on a freshly built installer.";

constexpr std::string_view malformed_key_problem =
    "This installer's settings block is damaged: the update key burned into it is not 64 bytes "
    "written as hexadecimal digits, so the site's files could not be checked. Run the packaging "
    "step again on a freshly built installer.";

constexpr size_t update_key_size = 64;

int hex_digit_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// The block the packaging step overwrites in the built program. External and kept so that the
// linker leaves it in place as one run of bytes.
extern const SettingsBlock trevalon_installer_settings_block;
#if defined(__GNUC__)
[[gnu::used]]
#endif
const SettingsBlock trevalon_installer_settings_block = initial_block();

namespace {

// The block's bytes change after the build; reading them through a volatile pointer keeps the
// compiler from answering from the values it saw at compile time.
const unsigned char* volatile settings_block_pointer = trevalon_installer_settings_block.data();

const ParsedSettingsBlock& loaded_settings() {
  static const ParsedSettingsBlock loaded =
      parse_settings_block(settings_block_pointer, settings_block_size);
  return loaded;
}

}  // namespace

ParsedSettingsBlock parse_settings_block(const uint8_t* block, size_t size) {
  ParsedSettingsBlock result;
  if (size >= marker_length && fnv1a(block, marker_length) == marker_hash()) {
    result.problem = unconfigured_problem;
    return result;
  }
  BurnedInSettings settings;
  std::string* const strings[] = {
      &settings.site_base_url,       &settings.appinstaller_file_name,
      &settings.launch_uri,          &settings.package_full_name,
      &settings.app_exe_name,        &settings.certificate_file_name,
      &settings.installer_file_name, &settings.eighth,
  };
  size_t at = 0;
  for (std::string* value : strings) {
    const void* end = at < size ? std::memchr(block + at, 0, size - at) : nullptr;
    if (end == nullptr) {
      result.problem = malformed_problem;
      return result;
    }
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(end) - (block + at));
    value->assign(reinterpret_cast<const char*>(block + at), length);
    at += length + 1;
  }
  if (at >= size) {
    result.problem = malformed_problem;
    return result;
  }
  const uint8_t flags = block[at];
  settings.aggressive_updates = (flags & 0x01) != 0;
  settings.escape_hatch_enabled = (flags & 0x02) != 0;
  ++at;
  // A program burned without a key has the old filler here, which never starts with the tag.
  const std::string_view tag = update_key_tag;
  if (size - at >= tag.size() && std::memcmp(block + at, tag.data(), tag.size()) == 0) {
    at += tag.size();
    if (size - at < 2 * update_key_size + 1 || block[at + 2 * update_key_size] != 0) {
      result.problem = malformed_key_problem;
      return result;
    }
    for (size_t i = 0; i < update_key_size; ++i) {
      const int high = hex_digit_value(block[at + 2 * i]);
      const int low = hex_digit_value(block[at + 2 * i + 1]);
      if (high < 0 || low < 0) {
        result.problem = malformed_key_problem;
        return result;
      }
      settings.update_key += static_cast<char>(high * 16 + low);
    }
  }
  result.settings = std::move(settings);
  return result;
}

BurnedInSettings burned_in_settings = loaded_settings().settings;

const std::string& burned_in_settings_problem() { return loaded_settings().problem; }

}  // namespace pellora
