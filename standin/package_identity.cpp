#include "standin/package_identity.h"

namespace standin {

std::optional<std::array<uint16_t, 4>> parse_package_version(const std::string& text) {
  std::array<uint16_t, 4> parts{};
  size_t index = 0;
  size_t i = 0;
  while (index < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    uint32_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
      if (value > 65535) return std::nullopt;
      ++i;
    }
    parts[index++] = static_cast<uint16_t>(value);
    if (index < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return parts;
}

}  // namespace standin
