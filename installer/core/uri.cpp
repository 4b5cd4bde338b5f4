// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/core/uri.h"

namespace pellora {
Uri::Uri(const std::string&) { throw std::logic_error("not built yet"); }
std::string Uri::to_string() const { return text_; }
std::vector<std::pair<std::string, std::string>> Uri::query_parsed() const { return {}; }
}  // namespace pellora
