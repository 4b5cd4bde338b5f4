// SHA-256 and P-256 ECDSA on OpenSSL's libcrypto, loaded on first use like libcurl: starting the
// installed application checks no signature, and the library's load would slow every start.

#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "common/error.h"
#include "installer/platform/posix/services_posix.h"

namespace pellora::platform::posix {
namespace {

struct CryptoLibrary {
  decltype(&::EVP_MD_CTX_new) md_ctx_new;
  decltype(&::EVP_MD_CTX_free) md_ctx_free;
  decltype(&::EVP_sha256) sha256;
  decltype(&::EVP_DigestInit_ex) digest_init;
  decltype(&::EVP_DigestUpdate) digest_update;
  decltype(&::EVP_DigestFinal_ex) digest_final;
  decltype(&::d2i_PUBKEY) d2i_pubkey;
  decltype(&::EVP_PKEY_free) pkey_free;
  decltype(&::EVP_PKEY_CTX_new) pkey_ctx_new;
  decltype(&::EVP_PKEY_CTX_free) pkey_ctx_free;
  decltype(&::EVP_PKEY_verify_init) verify_init;
  decltype(&::EVP_PKEY_CTX_set_signature_md) set_signature_md;
  decltype(&::EVP_PKEY_verify) verify;
};

PlatformError load_error(const std::string& what) {
  const char* detail = dlerror();
  return PlatformError(hresult::fail,
                       "libcrypto could not be loaded (" + what + "): " + (detail ? detail : ""));
}

template <typename Function>
void resolve(void* handle, const char* name, Function& function) {
  void* address = dlsym(handle, name);
  if (address == nullptr) throw load_error(name);
  function = reinterpret_cast<Function>(address);
}

CryptoLibrary load() {
  void* handle = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);  // never closed
  if (handle == nullptr) throw load_error("libcrypto.so.3");
  CryptoLibrary library{};
  resolve(handle, "EVP_MD_CTX_new", library.md_ctx_new);
  resolve(handle, "EVP_MD_CTX_free", library.md_ctx_free);
  resolve(handle, "EVP_sha256", library.sha256);
  resolve(handle, "EVP_DigestInit_ex", library.digest_init);
  resolve(handle, "EVP_DigestUpdate", library.digest_update);
  resolve(handle, "EVP_DigestFinal_ex", library.digest_final);
  resolve(handle, "d2i_PUBKEY", library.d2i_pubkey);
  resolve(handle, "EVP_PKEY_free", library.pkey_free);
  resolve(handle, "EVP_PKEY_CTX_new", library.pkey_ctx_new);
  resolve(handle, "EVP_PKEY_CTX_free", library.pkey_ctx_free);
  resolve(handle, "EVP_PKEY_verify_init", library.verify_init);
  resolve(handle, "EVP_PKEY_CTX_set_signature_md", library.set_signature_md);
  resolve(handle, "EVP_PKEY_verify", library.verify);
  return library;
}

const CryptoLibrary& library() {
  static const CryptoLibrary loaded = load();
  return loaded;
}

PlatformError provider_error(const char* call) {
  return PlatformError(hresult::fail, std::string(call) + " failed");
}

class OpenSslSha256 final : public Sha256 {
 public:
  OpenSslSha256() : context_(library().md_ctx_new()) {
    if (context_ == nullptr || library().digest_init(context_, library().sha256(), nullptr) != 1) {
      if (context_ != nullptr) library().md_ctx_free(context_);
      throw provider_error("EVP_DigestInit_ex");
    }
  }
  ~OpenSslSha256() override { library().md_ctx_free(context_); }
  OpenSslSha256(const OpenSslSha256&) = delete;
  OpenSslSha256& operator=(const OpenSslSha256&) = delete;

  void update(const uint8_t* data, size_t size) override {
    if (size != 0 && library().digest_update(context_, data, size) != 1) {
      throw provider_error("EVP_DigestUpdate");
    }
  }

  Sha256Digest finish() override {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (library().digest_final(context_, digest.data(), &length) != 1 || length != digest.size()) {
      throw provider_error("EVP_DigestFinal_ex");
    }
    return digest;
  }

 private:
  EVP_MD_CTX* context_;
};

// The DER SubjectPublicKeyInfo of a P-256 key up to its uncompressed point's X and Y.
constexpr uint8_t p256_key_prefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                       0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                       0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// One DER INTEGER from a 32-byte big-endian unsigned value: no leading zero bytes, and one zero
// byte in front when the top bit is set, so that it stays positive.
void append_der_integer(std::vector<uint8_t>& out, std::span<const uint8_t> value) {
  size_t first = 0;
  while (first + 1 < value.size() && value[first] == 0) ++first;
  const bool pad = (value[first] & 0x80) != 0;
  out.push_back(0x02);
  out.push_back(static_cast<uint8_t>(value.size() - first + (pad ? 1 : 0)));
  if (pad) out.push_back(0);
  out.insert(out.end(), value.begin() + static_cast<ptrdiff_t>(first), value.end());
}

// OpenSSL takes an ECDSA signature as a DER sequence of r and s; the site carries r || s.
std::vector<uint8_t> der_signature(std::span<const uint8_t> raw) {
  std::vector<uint8_t> integers;
  append_der_integer(integers, raw.first(32));
  append_der_integer(integers, raw.last(32));
  std::vector<uint8_t> der = {0x30, static_cast<uint8_t>(integers.size())};
  der.insert(der.end(), integers.begin(), integers.end());
  return der;
}

class OpenSslCrypto final : public Crypto {
 public:
  std::unique_ptr<Sha256> start_sha256() override { return std::make_unique<OpenSslSha256>(); }

  bool verify_p256(std::span<const uint8_t> public_key, const Sha256Digest& digest,
                   std::span<const uint8_t> signature) override {
    if (public_key.size() != 64 || signature.size() != 64) return false;
    std::vector<uint8_t> key_info(std::begin(p256_key_prefix), std::end(p256_key_prefix));
    key_info.insert(key_info.end(), public_key.begin(), public_key.end());
    const CryptoLibrary& crypto = library();
    const unsigned char* cursor = key_info.data();
    // A point that is not on the curve is refused here.
    EVP_PKEY* key = crypto.d2i_pubkey(nullptr, &cursor, static_cast<long>(key_info.size()));
    if (key == nullptr) return false;
    EVP_PKEY_CTX* context = crypto.pkey_ctx_new(key, nullptr);
    bool valid = false;
    if (context != nullptr && crypto.verify_init(context) == 1 &&
        crypto.set_signature_md(context, crypto.sha256()) == 1) {
      const std::vector<uint8_t> der = der_signature(signature);
      valid = crypto.verify(context, der.data(), der.size(), digest.data(), digest.size()) == 1;
    }
    if (context != nullptr) crypto.pkey_ctx_free(context);
    crypto.pkey_free(key);
    return valid;
  }
};

}  // namespace

Crypto* crypto() {
  static OpenSslCrypto instance;
  return &instance;
}

}  // namespace pellora::platform::posix
