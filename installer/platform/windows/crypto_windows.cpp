// SHA-256 and P-256 ECDSA on the system's bcrypt. Its algorithm providers are opened once and
// kept: opening one is the costly step, and a provider handle may be shared between threads.

#include "installer/platform/windows/windows_common.h"
// These need windows.h first.
#include <bcrypt.h>

#include <cstring>
#include <string>
#include <vector>

#include "installer/platform/windows/services_windows.h"

namespace pellora::platform::windows {
namespace {

// bcrypt reports NTSTATUS codes; the platform error carries them as HRESULTs.
PlatformError bcrypt_error(const char* call, NTSTATUS status) {
  const uint32_t code = static_cast<uint32_t>(status) | 0x10000000u;  // HRESULT_FROM_NT
  return PlatformError(code, std::string(call) + " failed with status " +
                                 std::to_string(static_cast<uint32_t>(status)));
}

BCRYPT_ALG_HANDLE open_provider(const wchar_t* algorithm) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  const NTSTATUS status = BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) throw bcrypt_error("BCryptOpenAlgorithmProvider", status);
  return provider;
}

BCRYPT_ALG_HANDLE sha256_provider() {
  static const BCRYPT_ALG_HANDLE provider = open_provider(BCRYPT_SHA256_ALGORITHM);
  return provider;
}

BCRYPT_ALG_HANDLE ecdsa_p256_provider() {
  static const BCRYPT_ALG_HANDLE provider = open_provider(BCRYPT_ECDSA_P256_ALGORITHM);
  return provider;
}

class BcryptSha256 final : public Sha256 {
 public:
  BcryptSha256() {
    const NTSTATUS status = BCryptCreateHash(sha256_provider(), &hash_, nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) throw bcrypt_error("BCryptCreateHash", status);
  }
  ~BcryptSha256() override { BCryptDestroyHash(hash_); }
  BcryptSha256(const BcryptSha256&) = delete;
  BcryptSha256& operator=(const BcryptSha256&) = delete;

  void update(const uint8_t* data, size_t size) override {
    // BCryptHashData takes at most 4 GiB at a time.
    while (size != 0) {
      const ULONG part = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
      const NTSTATUS status = BCryptHashData(hash_, const_cast<PUCHAR>(data), part, 0);
      if (!BCRYPT_SUCCESS(status)) throw bcrypt_error("BCryptHashData", status);
      data += part;
      size -= part;
    }
  }

  Sha256Digest finish() override {
    Sha256Digest digest{};
    const NTSTATUS status =
        BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (!BCRYPT_SUCCESS(status)) throw bcrypt_error("BCryptFinishHash", status);
    return digest;
  }

 private:
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

class BcryptCrypto final : public Crypto {
 public:
  std::unique_ptr<Sha256> start_sha256() override { return std::make_unique<BcryptSha256>(); }

  bool verify_p256(std::span<const uint8_t> public_key, const Sha256Digest& digest,
                   std::span<const uint8_t> signature) override {
    if (public_key.size() != 64 || signature.size() != 64) return false;
    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB) + public_key.size());
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, public_key.data(), public_key.size());
    BCRYPT_KEY_HANDLE key = nullptr;
    // A point that is not on the curve is refused here.
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa_p256_provider(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                            &key, blob.data(), static_cast<ULONG>(blob.size()),
                                            0))) {
      return false;
    }
    std::vector<uint8_t> hash(digest.begin(), digest.end());
    std::vector<uint8_t> raw(signature.begin(), signature.end());
    // bcrypt takes r || s as it is; STATUS_INVALID_SIGNATURE and every other status is a "no".
    const NTSTATUS status =
        BCryptVerifySignature(key, nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                              raw.data(), static_cast<ULONG>(raw.size()), 0);
    BCryptDestroyKey(key);
    return status == 0;
  }
};

}  // namespace

Crypto* crypto() {
  static BcryptCrypto instance;
  return &instance;
}

}  // namespace pellora::platform::windows
