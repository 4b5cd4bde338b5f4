// A first cut that only splits off the scheme; the full parser replaces it.
#include "installer/core/uri.h"

#include "installer/platform/error.h"

namespace pellora {

Uri::Uri(const std::string& text) : text_(text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) {
    throw platform::PlatformError(platform::hresult::invalid_arg,
                                  "The parameter is incorrect: not an absolute URI: " + text);
  }
  scheme_ = text.substr(0, colon);
  std::string rest = text.substr(colon + 1);
  if (rest.rfind("//", 0) == 0) {
    const size_t end = rest.find_first_of("/?#", 2);
    authority_ = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    rest = end == std::string::npos ? "" : rest.substr(end);
  }
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
  path_ = rest;
}

std::string Uri::to_string() const { return text_; }

std::vector<std::pair<std::string, std::string>> Uri::query_parsed() const { return {}; }

}  // namespace pellora
