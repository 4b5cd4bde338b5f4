#include "launcher/jvm_options.h"

namespace launcher {

std::string build_command_option(const LauncherConfig& config,
                                 std::span<const std::string> command_line_args) {
  std::string option = "-Dsun.java.command=" + config.main_class;
  for (const auto& argument : config.default_args) option.append(" ").append(argument);
  for (const auto& argument : command_line_args) option.append(" ").append(argument);
  return option;
}

std::string app_root_dir_of(std::string_view executable_path, char separator) {
  std::string_view path = executable_path;
  for (int cut = 0; cut < 2; ++cut) {
    const size_t last = path.rfind(separator);
    path = last == std::string_view::npos ? std::string_view() : path.substr(0, last);
  }
  return std::string(path);
}

std::string app_dir_of(std::string_view app_root_dir, char separator) {
  std::string dir(app_root_dir);
  dir.push_back(separator);
  dir.append("app");
  dir.push_back(separator);
  return dir;
}

std::string substitute_app_dir(std::string_view option, std::string_view app_dir) {
  std::string result;
  result.reserve(option.size());
  size_t position = 0;
  while (true) {
    const size_t token = option.find("&&", position);
    if (token == std::string_view::npos) break;
    result.append(option.substr(position, token - position)).append(app_dir);
    position = token + 2;
  }
  result.append(option.substr(position));
  return result;
}

std::vector<std::string> build_jvm_options(const LauncherConfig& config,
                                           std::span<const std::string> command_line_args,
                                           std::string_view app_dir) {
  std::vector<std::string> options = config.jvm_options;
  // The arguments are in the command option by now, so an "&&" in one of them is replaced
  // there too (but not in the arguments that main receives).
  options.push_back(build_command_option(config, command_line_args));
  for (auto& option : options) option = substitute_app_dir(option, app_dir);
  return options;
}

std::vector<std::string> java_main_arguments(const LauncherConfig& config,
                                             std::span<const std::string> command_line_args) {
  std::vector<std::string> arguments = config.default_args;
  arguments.insert(arguments.end(), command_line_args.begin(), command_line_args.end());
  return arguments;
}

namespace {

// Length and value of the UTF-8 sequence at `text[at]`, or 0 when it is not a valid,
// shortest-form encoding of a scalar value.
size_t decode_utf8(std::string_view text, size_t at, char32_t& value) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    value = lead;
    return 1;
  }
  size_t length = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string result;
  result.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    char32_t value = 0;
    const size_t length = decode_utf8(text, at, value);
    if (length == 0) {
      result.push_back(u'\uFFFD');
      ++at;
      continue;
    }
    at += length;
    if (value < 0x10000) {
      result.push_back(static_cast<char16_t>(value));
    } else {
      value -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    }
  }
  return result;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    char32_t value = text[at];
    if (value >= 0xD800 && value <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
        text[at + 1] <= 0xDFFF) {
      value = 0x10000 + ((value - 0xD800) << 10) + (text[++at] - 0xDC00);
    } else if (value >= 0xD800 && value <= 0xDFFF) {
      value = 0xFFFD;
    }
    if (value < 0x80) {
      result += static_cast<char>(value);
    } else if (value < 0x800) {
      result += static_cast<char>(0xC0 | (value >> 6));
      result += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
      result += static_cast<char>(0xE0 | (value >> 12));
      result += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (value & 0x3F));
    } else {
      result += static_cast<char>(0xF0 | (value >> 18));
      result += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
      result += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (value & 0x3F));
    }
  }
  return result;
}

}  // namespace launcher
