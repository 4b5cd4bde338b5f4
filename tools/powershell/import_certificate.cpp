#include "tools/powershell/import_certificate.h"

#include <cctype>
#include <vector>

namespace trevalon::powershell {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool same_ignoring_case(const std::string& left, const std::string& right) {
  if (left.size() != right.size()) return false;
  for (size_t i = 0; i < left.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(left[i])) !=
        std::tolower(static_cast<unsigned char>(right[i]))) {
      return false;
    }
  }
  return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The length in bytes of the single quote at `at`, or 0: PowerShell takes the apostrophe and
// the typographic single quotes U+2018 to U+201B (E2 80 98..9B in UTF-8) alike.
size_t single_quote_at(const std::string& text, size_t at) {
  if (at >= text.size()) return 0;
  if (text[at] == '\'') return 1;
  if (at + 2 < text.size() && text.compare(at, 2, "\xE2\x80") == 0) {
    const auto last = static_cast<unsigned char>(text[at + 2]);
    if (last >= 0x98 && last <= 0x9B) return 3;
  }
  return 0;
}

// Words, single-quoted strings (any single quote opens and ends one; two in a row stand for the
// second) and "double-quoted" strings (`" and "" are quotes; nothing is expanded here, the one
// command needs no variables).
std::optional<std::vector<Token>> tokenize(const std::string& command, std::string& error) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < command.size()) {
    if (is_blank(command[i])) {
      ++i;
      continue;
    }
    Token token;
    if (const size_t opening = single_quote_at(command, i)) {
      token.quoted = true;
      i += opening;
      for (;;) {
        if (i >= command.size()) {
          error = "The string is missing the terminator: '.";
          return std::nullopt;
        }
        if (const size_t quote = single_quote_at(command, i)) {
          const size_t next = single_quote_at(command, i + quote);
          if (next == 0) {
            i += quote;
            break;
          }
          token.text += command.substr(i + quote, next);
          i += quote + next;
          continue;
        }
        token.text += command[i++];
      }
      if (i < command.size() && !is_blank(command[i])) {
        error = "Unexpected token after the string '" + token.text + "'.";
        return std::nullopt;
      }
    } else if (command[i] == '"') {
      token.quoted = true;
      ++i;
      for (;;) {
        if (i >= command.size()) {
          error = "The string is missing the terminator: \".";
          return std::nullopt;
        }
        const char c = command[i];
        if (c == '`' && i + 1 < command.size()) {
          token.text += command[i + 1];
          i += 2;
          continue;
        }
        if (c == '"') {
          if (i + 1 < command.size() && command[i + 1] == '"') {
            token.text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        token.text += c;
        ++i;
      }
      if (i < command.size() && !is_blank(command[i])) {
        error = "Unexpected token after the string \"" + token.text + "\".";
        return std::nullopt;
      }
    } else {
      while (i < command.size() && !is_blank(command[i])) token.text += command[i++];
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace

std::optional<std::string> parse_import_certificate(const std::string& command,
                                                    std::string& error) {
  const auto tokens = tokenize(command, error);
  if (!tokens) return std::nullopt;
  const std::vector<Token>& t = *tokens;
  if (t.empty() || t[0].quoted || !same_ignoring_case(t[0].text, "Import-Certificate")) {
    error = "The term '" + (t.empty() ? std::string() : t[0].text) +
            "' is not recognized as the name of a cmdlet this PowerShell knows; it knows only "
            "Import-Certificate.";
    return std::nullopt;
  }
  if (t.size() != 5 || t[1].quoted || !same_ignoring_case(t[1].text, "-FilePath") || t[3].quoted ||
      !same_ignoring_case(t[3].text, "-CertStoreLocation")) {
    error =
        "Import-Certificate takes exactly -FilePath '<path>' -CertStoreLocation "
        "\"Cert:\\LocalMachine\\TrustedPeople\".";
    return std::nullopt;
  }
  if (!t[2].quoted || t[2].text.empty()) {
    error = "The -FilePath of Import-Certificate must be a quoted, non-empty path.";
    return std::nullopt;
  }
  if (!same_ignoring_case(t[4].text, "Cert:\\LocalMachine\\TrustedPeople")) {
    error = "Cannot find the certificate store " + t[4].text +
            "; this PowerShell knows only Cert:\\LocalMachine\\TrustedPeople.";
    return std::nullopt;
  }
  return t[2].text;
}

}  // namespace trevalon::powershell
