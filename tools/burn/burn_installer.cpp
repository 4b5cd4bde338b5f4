// burn installer IN OUT --site-base-url U --appinstaller F --launch-uri U
//                       --package-full-name N --app-exe E [--certificate F] [--installer F]
//                       [--aggressive-updates] [--escape-hatch] [--update-key PUBLIC.pem]
//
// Writes the installer's settings over its block: eight NUL-terminated strings (site base URL,
// appinstaller file, launch URI, package full name, application executable, certificate file,
// installer file, and an eighth that the installer does not use) and a flag byte (bit 0:
// aggressive updates, bit 1: escape hatch). With an update key, the flag byte is followed by
// "update-key-p256=", the key's X and Y in 128 hexadecimal digits and a NUL: programs that do not
// know the key stop reading at the flag byte. The rest of the block and of the program stay as
// they are.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/burn/burn_common.h"

namespace burn {
namespace {

constexpr std::string_view installer_marker = "BURNED_IN_DATA 3B7E1D92-5A4C-4F08-9E61-C2D4A87F0B35";
constexpr size_t installer_block_size = 16436;

struct StringOption {
  const char* name;
  bool required;
};

// In the order of the strings in the block; the eighth string is always written empty.
constexpr StringOption string_options[] = {
    {"--site-base-url", true},     {"--appinstaller", true}, {"--launch-uri", true},
    {"--package-full-name", true}, {"--app-exe", true},      {"--certificate", false},
    {"--installer", false},
};

// The DER SubjectPublicKeyInfo of a P-256 key up to its uncompressed point's X and Y.
constexpr uint8_t p256_key_prefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                       0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                       0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// The X and Y of the P-256 public key in a PEM file, as 128 lower-case hexadecimal digits.
std::string update_key_hex(const std::string& pem_path) {
  FILE* file = std::fopen(pem_path.c_str(), "rb");
  if (file == nullptr) throw BurnError("cannot read the update key " + pem_path);
  EVP_PKEY* key = PEM_read_PUBKEY(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (key == nullptr) throw BurnError(pem_path + " holds no PEM public key");
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  EVP_PKEY_free(key);
  const bool p256 = length == int(sizeof p256_key_prefix) + 64 &&
                    std::equal(std::begin(p256_key_prefix), std::end(p256_key_prefix), der);
  std::string hex;
  for (int i = int(sizeof p256_key_prefix); p256 && i < length; ++i) {
    static const char digits[] = "0123456789abcdef";
    hex += digits[der[i] >> 4];
    hex += digits[der[i] & 0x0f];
  }
  OPENSSL_free(der);
  if (!p256) throw BurnError("the update key in " + pem_path + " is not an ECDSA P-256 key");
  return hex;
}

const char* const usage =
    "usage: burn installer IN OUT --site-base-url U --appinstaller F --launch-uri U "
    "--package-full-name N --app-exe E [--certificate F] [--installer F] "
    "[--aggressive-updates] [--escape-hatch] [--update-key PUBLIC.pem]";

bool is_string_option(const std::string& name) {
  if (name == "--update-key") return true;
  for (const StringOption& option : string_options) {
    if (name == option.name) return true;
  }
  return false;
}

}  // namespace

int burn_installer(const std::vector<std::string>& arguments) {
  std::vector<std::string> paths;
  std::map<std::string, std::string> values;
  bool aggressive_updates = false;
  bool escape_hatch = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    if (argument == "--aggressive-updates") {
      aggressive_updates = true;
    } else if (argument == "--escape-hatch") {
      escape_hatch = true;
    } else if (argument.starts_with("--")) {
      std::string value;
      if (const size_t equals = argument.find('='); equals != std::string::npos) {
        value = argument.substr(equals + 1);
        argument.resize(equals);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        throw BurnError("option " + argument + " needs a value\n" + usage);
      }
      if (!is_string_option(argument)) throw BurnError("unknown option " + argument + "\n" + usage);
      if (!values.emplace(argument, value).second) {
        throw BurnError("option " + argument + " is given more than once");
      }
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.size() != 2) throw BurnError(std::string("expected IN and OUT\n") + usage);

  std::vector<uint8_t> record;
  for (const StringOption& option : string_options) {
    const auto found = values.find(option.name);
    if (found == values.end() && option.required) {
      throw BurnError(std::string("option ") + option.name + " is required\n" + usage);
    }
    const std::string value = found == values.end() ? std::string() : found->second;
    if (value.find('\0') != std::string::npos) {
      throw BurnError(std::string("the value of ") + option.name + " contains a NUL byte");
    }
    record.insert(record.end(), value.begin(), value.end());
    record.push_back(0);
  }
  record.push_back(0);  // the eighth string, unused
  record.push_back(
      static_cast<uint8_t>((aggressive_updates ? 0x01 : 0) | (escape_hatch ? 0x02 : 0)));
  if (const auto key = values.find("--update-key"); key != values.end()) {
    const std::string entry =
        std::string("update-key-p256=") + update_key_hex(key->second) + std::string(1, '\0');
    record.insert(record.end(), entry.begin(), entry.end());
  }
  if (record.size() > installer_block_size) {
    throw BurnError("the settings take " + std::to_string(record.size()) +
                    " bytes with their NUL bytes, the flag byte and the update key, but the "
                    "block holds only " +
                    std::to_string(installer_block_size));
  }

  Program program = load_program(paths[0], installer_marker);
  if (program.block_offset + installer_block_size > program.bytes.size()) {
    throw BurnError("the settings block in " + paths[0] + " is cut short by the end of the file");
  }
  std::copy(record.begin(), record.end(), program.bytes.begin() + program.block_offset);
  write_atomically(paths[1], program.bytes, program.mode);
  std::printf("burned %zu bytes of installer settings into %s\n", record.size(), paths[1].c_str());
  return 0;
}

}  // namespace burn
