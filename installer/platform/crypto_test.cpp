// The cryptography service's contract, against the backend built. Vectors made with OpenSSL: two
// P-256 keys, and the first's signature over SHA-256("trevalon").

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer/platform/backend.h"

namespace pellora::platform {
namespace {

std::vector<uint8_t> from_hex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(std::stoul(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

const std::vector<uint8_t> key = from_hex(
    "04e591e0c7e70fa03bf37181a313a558bc100da516d82da9b2556805c27f705c"
    "4992ce26eb22f7a9d9a04eb4bff192353b532aa8422c60af2d86532b252e956f");
const std::vector<uint8_t> other_key = from_hex(
    "e1aabbd0031d96f996a86364220fcae77ae407202412cf333a468ee2050f921c"
    "9cd7fb13d7a0eaac5b1a6d6e1b17d5f2ce2c3d69aaafa357329d865ccfa18078");
const std::vector<uint8_t> signature = from_hex(
    "2b75defb79df610edabf9dbf74b846263f39285c5e41834503f50e1d002a3c71"
    "225d27fe20a7bf3f9f6571075546e9844f14d8a191cea37c5bff5da2f1d03ad3");

Sha256Digest digest_of(const std::string& text) {
  const auto hash = backend_services().crypto->start_sha256();
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t at = 0; at < text.size(); at += 3)
    hash->update(bytes + at, std::min<size_t>(3, text.size() - at));
  return hash->finish();
}

// The digest is made in pieces, so a wrong SHA-256 or a lost piece fails the first check.
TEST(CryptoContract, OnlyTheKeysOwnSignatureOfTheSameDigestVerifies) {
  Crypto& crypto = *backend_services().crypto;
  const Sha256Digest digest = digest_of("trevalon");
  EXPECT_TRUE(crypto.verify_p256(key, digest, signature));
  Sha256Digest changed = digest;
  changed[17] ^= 0x01;
  EXPECT_FALSE(crypto.verify_p256(key, changed, signature)) << "one bit of the digest";
  EXPECT_FALSE(crypto.verify_p256(other_key, digest, signature)) << "another key";
  std::vector<uint8_t> off_curve = key;
  off_curve[63] ^= 0x01;
  EXPECT_FALSE(crypto.verify_p256(off_curve, digest, signature)) << "a point off the curve";

  const std::vector<std::vector<uint8_t>> malformed = {
      {},
      std::vector<uint8_t>(signature.begin(), signature.end() - 1),
      std::vector<uint8_t>(64, 0),  // r = s = 0
      from_hex("3044022000"),       // a DER start, as OpenSSL writes signatures
  };
  for (const auto& bad : malformed) EXPECT_FALSE(crypto.verify_p256(key, digest, bad));
}

}  // namespace
}  // namespace pellora::platform
