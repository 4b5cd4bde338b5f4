// Placeholder until this unit is built; every entry point fails loudly.
#include <stdexcept>

#include "installer/settings/metadata.h"

namespace pellora {
std::unique_ptr<Metadata> fetch_metadata() { throw std::logic_error("not built yet"); }
std::map<std::string, std::string> parse_properties(const std::string&) { throw std::logic_error("not built yet"); }
bool unescape_properties_line(std::string&) { throw std::logic_error("not built yet"); }
}  // namespace pellora
