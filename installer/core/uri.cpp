#include "installer/core/uri.h"

#include <cctype>

#include "common/error.h"

namespace pellora {
namespace {

[[noreturn]] void reject(const std::string& text, const std::string& why) {
  throw platform::PlatformError(
      platform::hresult::invalid_arg,
      "The parameter is incorrect: \"" + text + "\" is not an absolute URI (" + why + ").");
}

bool is_scheme_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Form decoding: "+" is a space and %XX a byte; a "%" not followed by two hex digits stays.
std::string form_decode(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      result += ' ';
    } else if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
               hex_value(text[i + 2]) >= 0) {
      result += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      result += c;
    }
  }
  return result;
}

// Characters that can never stand in a URI's text form are written as escapes, as the
// canonical form does (a space becomes %20).
std::string escape_unsafe(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string result;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}') {
      result += '%';
      result += digits[byte >> 4];
      result += digits[byte & 0xF];
    } else {
      result += c;
    }
  }
  return result;
}

bool is_web_scheme(const std::string& scheme) { return scheme == "http" || scheme == "https"; }

// RFC 3986, section 5.2.4: "." and ".." segments resolved, so that no path climbs above its root.
std::string remove_dot_segments(std::string input) {
  std::string output;
  auto drop_last_segment = [&output] {
    const size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
  };
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.erase(0, 3);
    } else if (input.starts_with("./")) {
      input.erase(0, 2);
    } else if (input.starts_with("/./")) {
      input.erase(0, 2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../")) {
      input.erase(0, 3);
      drop_last_segment();
    } else if (input == "/..") {
      input = "/";
      drop_last_segment();
    } else if (input == "." || input == "..") {
      input.clear();
    } else {
      const size_t end = input.find('/', 1);
      output += input.substr(0, end);
      input.erase(0, end == std::string::npos ? input.size() : end);
    }
  }
  return output;
}

}  // namespace

Uri::Uri(const std::string& text) : text_(text) {
  if (text.empty()) reject(text, "it is empty");
  const size_t colon = text.find(':');
  if (colon == std::string::npos) reject(text, "no scheme");
  if (colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) {
    reject(text, "the scheme must start with a letter");
  }
  for (size_t i = 0; i < colon; ++i) {
    if (!is_scheme_char(text[i])) reject(text, "invalid character in the scheme");
  }
  scheme_ = lower(text.substr(0, colon));

  std::string rest = text.substr(colon + 1);
  const size_t hash = rest.find('#');
  if (hash != std::string::npos) {
    fragment_ = rest.substr(hash);
    rest.resize(hash);
  }
  const size_t question = rest.find('?');
  if (question != std::string::npos) {
    query_ = rest.substr(question);
    rest.resize(question);
  }
  if (rest.rfind("//", 0) == 0) {
    const size_t end = rest.find('/', 2);
    authority_ = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    path_ = end == std::string::npos ? "" : rest.substr(end);
  } else {
    path_ = rest;
  }
  path_ = remove_dot_segments(path_);

  if (is_web_scheme(scheme_)) {
    if (rest.rfind("//", 0) != 0) reject(text, "no authority after the scheme");
    // The host is what follows any user information and precedes the port.
    std::string host = authority_;
    const size_t at = host.rfind('@');
    if (at != std::string::npos) host = host.substr(at + 1);
    std::string port;
    const size_t bracket = host.rfind(']');
    const size_t port_colon = host.rfind(':');
    if (port_colon != std::string::npos && (bracket == std::string::npos || port_colon > bracket)) {
      port = host.substr(port_colon + 1);
      host.resize(port_colon);
    }
    if (host.empty()) reject(text, "no host");
    for (const char c : host) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte <= 0x20 || c == '\\' || c == '<' || c == '>' || c == '"' || c == '%') {
        reject(text, "invalid character in the host");
      }
    }
    if (port.size() > 5) reject(text, "invalid port");
    for (const char c : port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) reject(text, "invalid port");
    }
    if (!port.empty() && std::stoul(port) > 65535) reject(text, "invalid port");
    const std::string user_info = at == std::string::npos ? "" : authority_.substr(0, at + 1);
    const bool default_port = port.empty() || (scheme_ == "http" && port == "80") ||
                              (scheme_ == "https" && port == "443");
    authority_ = user_info + lower(host) + (default_port ? "" : ":" + port);
    if (path_.empty()) path_ = "/";
  }
}

std::string Uri::to_string() const {
  std::string result = scheme_ + ":";
  if (!authority_.empty() || is_web_scheme(scheme_) ||
      text_.compare(scheme_.size() + 1, 2, "//") == 0) {
    result += "//" + authority_;
  }
  result += escape_unsafe(path_) + escape_unsafe(query_) + escape_unsafe(fragment_);
  return result;
}

std::vector<std::pair<std::string, std::string>> Uri::query_parsed() const {
  std::vector<std::pair<std::string, std::string>> pairs;
  const std::string_view query =
      query_.empty() ? std::string_view() : std::string_view(query_).substr(1);
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view piece = query.substr(start, end - start);
    if (!piece.empty()) {
      const size_t equals = piece.find('=');
      if (equals == std::string_view::npos) {
        pairs.emplace_back(form_decode(piece), "");
      } else {
        pairs.emplace_back(form_decode(piece.substr(0, equals)),
                           form_decode(piece.substr(equals + 1)));
      }
    }
    start = end + 1;
  }
  return pairs;
}

}  // namespace pellora
