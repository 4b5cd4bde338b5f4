#pragma once
// An absolute URI, as Windows.Foundation.Uri parses it.

#include <string>
#include <utility>
#include <vector>

namespace pellora {

class Uri {
 public:
  // Raises PlatformError(E_INVALIDARG) with a clear message when `text` is not an absolute URI.
  explicit Uri(const std::string& text);

  const std::string& scheme_name() const { return scheme_; }
  const std::string& authority() const { return authority_; }
  // The path with its "." and ".." segments resolved (RFC 3986, section 5.2.4).
  const std::string& path() const { return path_; }
  // The query with its leading "?", or empty.
  const std::string& query() const { return query_; }
  // The text form used in log lines (ToString).
  std::string to_string() const;
  // QueryParsed: the query's name/value pairs in order, "+" and percent-escapes decoded.
  std::vector<std::pair<std::string, std::string>> query_parsed() const;

 private:
  std::string text_;
  std::string scheme_;
  std::string authority_;
  std::string path_;
  std::string query_;
  std::string fragment_;
};

}  // namespace pellora
