#include "standin/publisher_id.h"

#include <openssl/sha.h>

#include <array>
#include <cstdint>
#include <vector>

namespace standin {
namespace {

// UTF-8 to UTF-16LE bytes. Invalid sequences become U+FFFD, as MultiByteToWideChar does.
std::vector<uint8_t> utf16le(const std::string& text) {
  std::vector<uint8_t> out;
  auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  };
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    uint32_t code = 0xFFFD;
    size_t length = 1;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07;
    } else {
      length = 0;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      put(0xFFFD);
      ++i;
      continue;
    }
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

}  // namespace

std::string publisher_id(const std::string& publisher_utf8) {
  const std::vector<uint8_t> bytes = utf16le(publisher_utf8);
  std::array<uint8_t, SHA256_DIGEST_LENGTH> digest{};
  SHA256(bytes.data(), bytes.size(), digest.data());
  uint64_t bits = 0;
  for (int k = 0; k < 8; ++k) bits = (bits << 8) | digest[static_cast<size_t>(k)];
  static constexpr char alphabet[] = "0123456789abcdefghjkmnpqrstvwxyz";
  std::string id;
  // 64 bits plus one zero bit make 13 groups of 5; the first 12 groups are the top 60 bits.
  for (int group = 0; group < 12; ++group) {
    id += alphabet[(bits >> (59 - 5 * group)) & 0x1F];
  }
  id += alphabet[(bits & 0x0F) << 1];
  return id;
}

std::string package_full_name(const std::string& name, const std::string& version,
                              const std::string& architecture, const std::string& resource_id,
                              const std::string& publisher) {
  return name + "_" + version + "_" + architecture + "_" + resource_id + "_" +
         publisher_id(publisher);
}

std::string package_family_name(const std::string& name, const std::string& publisher) {
  return name + "_" + publisher_id(publisher);
}

}  // namespace standin
