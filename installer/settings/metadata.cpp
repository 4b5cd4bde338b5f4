#include "installer/settings/metadata.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "common/error.h"
#include "installer/core/burned_in_settings.h"
#include "installer/core/diagnostics.h"
#include "installer/core/site_signature.h"
#include "installer/core/uri.h"
#include "installer/platform/services.h"

namespace pellora {
namespace {

// The site's file is a few kilobytes; anything near this size is not a metadata file.
constexpr uint64_t max_metadata_bytes = 16 * 1024 * 1024;
constexpr uint32_t no_unicode_mapping =
    0x80070459;  // HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)

platform::PlatformError no_unicode_mapping_error() {
  return platform::PlatformError(
      no_unicode_mapping,
      "No mapping for the Unicode character exists in the target multi-byte code page.");
}

bool is_leading_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}
bool is_key_end(char c) {
  return c == '=' || c == ':' || c == ' ' || c == '\t' || c == '\f' || c == '\r' || c == '\n';
}
bool is_separator_space(char c) { return c == ' ' || c == '\t' || c == '\f'; }

std::string trim_physical_line(std::string_view line) {
  size_t begin = 0;
  while (begin < line.size() && is_leading_space(line[begin])) ++begin;
  size_t end = line.size();
  while (end > begin && (line[end - 1] == '\r' || line[end - 1] == '\n')) --end;
  return std::string(line.substr(begin, end - begin));
}

// The \u conversion behaves like the standard string-to-integer conversion in base 16 (white
// space, a sign and a 0x prefix accepted, stops at the first non-digit), including its error.
long convert_unicode_escape(const std::string& digits) {
  const char* begin = digits.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 16);
  if (end == begin) throw std::invalid_argument("invalid stoi argument");
  if (errno == ERANGE) throw std::out_of_range("stoi argument out of range");
  return value;
}

// The text as the reader decodes it: UTF-8, or the platform's decoding error.
std::string decode_utf8(const std::vector<uint8_t>& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = bytes[i];
    size_t length = 1;
    uint32_t code = lead;
    if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else if (lead >= 0xE0) {
      length = lead <= 0xEF ? 3 : 0;
      code = lead & 0x0F;
    } else if (lead >= 0xC2) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0x80) {
      length = 0;
    }
    if (length == 0 || i + length > bytes.size()) {
      throw no_unicode_mapping_error();
    }
    for (size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) {
        throw no_unicode_mapping_error();
      }
      code = (code << 6) | (bytes[i + k] & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      throw no_unicode_mapping_error();
    }
    i += length;
  }
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

bool unescape_properties_line(std::string& line) {
  std::string result;
  result.reserve(line.size());
  bool continues = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c != '\\') {
      result += c;
      ++i;
      continue;
    }
    if (i + 1 == line.size()) {
      continues = true;
      ++i;
      continue;
    }
    const char next = line[i + 1];
    switch (next) {
      case 'n':
        result += '\n';
        break;
      case 'r':
        result += '\r';
        break;
      case 't':
        result += '\t';
        break;
      case 'u':
        if (line.size() - (i + 2) >= 4) {
          const long value = convert_unicode_escape(line.substr(i + 2, 4));
          // Only values that fit a byte are kept, and then as that raw byte.
          if (value <= 255) result += static_cast<char>(value & 0xFF);
          i += 6;
          continue;
        }
        result += next;
        break;
      default:  // ':', '=', '\\' and every other character stand for themselves
        result += next;
        break;
    }
    i += 2;
  }
  line = std::move(result);
  return continues;
}

std::map<std::string, std::string> parse_properties(const std::string& text) {
  std::map<std::string, std::string> properties;
  size_t position = 0;
  // The next physical line, or false at the end of the text.
  auto next_line = [&](std::string& line) {
    if (position >= text.size()) return false;
    size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    line = text.substr(position, end - position);
    position = end + 1;
    return true;
  };

  std::string physical;
  while (next_line(physical)) {
    std::string line = trim_physical_line(physical);
    if (line.empty() || line[0] == '#' || line[0] == '!') continue;
    bool continues = unescape_properties_line(line);
    while (continues) {
      if (!next_line(physical)) break;
      std::string continuation = trim_physical_line(physical);
      continues = unescape_properties_line(continuation);
      line += continuation;
    }

    size_t key_end = 0;
    while (key_end < line.size() && !is_key_end(line[key_end])) ++key_end;
    size_t value_begin = key_end;
    while (value_begin < line.size() && is_separator_space(line[value_begin])) ++value_begin;
    if (value_begin < line.size() && (line[value_begin] == '=' || line[value_begin] == ':')) {
      ++value_begin;
      while (value_begin < line.size() && is_separator_space(line[value_begin])) ++value_begin;
    }
    properties[line.substr(0, key_end)] = line.substr(value_begin);
  }
  return properties;
}

std::unique_ptr<Metadata> fetch_metadata(std::optional<std::chrono::milliseconds> budget) {
  const Uri uri(burned_in_settings.site_base_url + "metadata.properties");
  log_line("Downloading metadata...");

  platform::System& system = *platform::services().system;
  const uint64_t started = system.tick_count_ms();
  const auto elapsed = [&] { return std::chrono::milliseconds(system.tick_count_ms() - started); };
  const auto over_budget = [&] { return budget && elapsed() >= *budget; };
  // What is left for the next request; at least a moment, since a spent budget is caught first.
  const auto remaining = [&]() -> std::optional<std::chrono::milliseconds> {
    if (!budget) return std::nullopt;
    return std::max(*budget - elapsed(), std::chrono::milliseconds(1));
  };
  const auto skip = [&] {
    log_line("Update check skipped: the site did not answer within " +
             std::to_string(budget->count()) + " ms.\n");
    return nullptr;
  };

  std::vector<uint8_t> bytes;
  try {
    bytes = platform::services().http->get_buffer(uri.to_string(), max_metadata_bytes, remaining());
  } catch (const platform::PlatformError& error) {
    if (over_budget()) return skip();
    log_line("Failed to download " + uri.to_string() + " due to error: " + error.message() + "\n");
    return nullptr;
  }
  if (over_budget()) return skip();
  try {
    check_site_signature(uri, sha256_of(std::string(bytes.begin(), bytes.end())), remaining());
  } catch (const platform::PlatformError& error) {
    if (over_budget()) return skip();
    // Nothing of an unsigned file is used, not even logged as the site's metadata.
    log_line("Ignoring the metadata: " + error.message() + "\n");
    return nullptr;
  }
  std::string text;
  try {
    text = decode_utf8(bytes);
  } catch (const platform::PlatformError& error) {
    log_line("Failed to download " + uri.to_string() + " due to error: " + error.message() + "\n");
    return nullptr;
  }

  log_utf8_line("Metadata:\n" + text);
  auto metadata = std::make_unique<Metadata>();

  std::map<std::string, std::string> properties;
  try {
    properties = parse_properties(text);
  } catch (const std::logic_error& error) {
    // A broken escape must not stop the flow: without metadata the application still starts.
    log_line("Failed to parse " + uri.to_string() + ": malformed \\u escape (" + error.what() +
             ")\n");
    return nullptr;
  }

  log_line("Parsed metadata:");
  for (const auto& [key, value] : properties) log_utf8_line(key + " = " + value);

  auto copy = [&](const char* key, std::string& member) {
    if (auto found = properties.find(key); found != properties.end()) member = found->second;
  };
  copy("app.windows.manifests.version-quad", metadata->version_quad);
  copy("windows.package-family-name", metadata->package_family_name);
  copy("windows.exe-installer-name", metadata->exe_installer_name);
  copy("windows.site-base-url", metadata->site_base_url);
  auto exe = properties.find("app.windows.manifests.msix.update-escape-hatch.exe");
  if (exe == properties.end()) return metadata;
  metadata->escape_hatch_exe = exe->second;

  auto run_if = properties.find("app.windows.manifests.msix.update-escape-hatch.run-if");
  if (run_if != properties.end()) {
    const std::string& value = run_if->second;
    if (value == "always") {
      metadata->escape_hatch_run_if = EscapeHatchRunIf::always;
    } else if (value == "package-family-changed") {
      metadata->escape_hatch_run_if = EscapeHatchRunIf::package_family_changed;
    } else if (value == "reinstall-required") {
      metadata->escape_hatch_run_if = EscapeHatchRunIf::reinstall_required;
    } else if (value == "not-up-to-date") {
      metadata->escape_hatch_run_if = EscapeHatchRunIf::not_up_to_date;
    }
  }
  return metadata;
}

}  // namespace pellora
