#pragma once
// SHA-256 and ECDSA P-256 signature checks through the system's cryptography (bcrypt on
// Windows). Any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace pellora::platform {

using Sha256Digest = std::array<uint8_t, 32>;

// BCryptCreateHash / BCryptHashData / BCryptFinishHash. One thread at a time.
class Sha256 {
 public:
  virtual ~Sha256() = default;
  virtual void update(const uint8_t* data, size_t size) = 0;
  // The digest of everything given so far; call once.
  virtual Sha256Digest finish() = 0;
};

class Crypto {
 public:
  virtual ~Crypto() = default;
  // Raises PlatformError when the system's provider cannot be used.
  virtual std::unique_ptr<Sha256> start_sha256() = 0;
  // BCryptVerifySignature with a P-256 ECDSA key: true when `signature` (r then s, 32 bytes
  // each, big-endian) signs `digest` under `public_key` (the point's X then Y, 32 bytes each).
  // False for everything else, a malformed key or signature included. Raises PlatformError only
  // when the provider itself fails.
  virtual bool verify_p256(std::span<const uint8_t> public_key, const Sha256Digest& digest,
                           std::span<const uint8_t> signature) = 0;
};

}  // namespace pellora::platform
