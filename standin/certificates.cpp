#include "standin/certificates.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include <cstdio>

#include "standin/platform_root.h"

namespace standin {
namespace {

struct AttributeName {
  const char* windows;
  int nid;
};

constexpr AttributeName attribute_names[] = {
    {"CN", NID_commonName},
    {"O", NID_organizationName},
    {"OU", NID_organizationalUnitName},
    {"L", NID_localityName},
    {"S", NID_stateOrProvinceName},
    {"ST", NID_stateOrProvinceName},
    {"C", NID_countryName},
    {"E", NID_pkcs9_emailAddress},
    {"STREET", NID_streetAddress},
    {"DC", NID_domainComponent},
    {"SERIALNUMBER", NID_serialNumber},
    {"T", NID_title},
    {"G", NID_givenName},
    {"SN", NID_surname},
};

int nid_for(const std::string& key) {
  for (const AttributeName& entry : attribute_names) {
    if (key == entry.windows) return entry.nid;
  }
  return NID_undef;
}

std::string key_for(int nid) {
  for (const AttributeName& entry : attribute_names) {
    if (entry.nid == nid) return entry.windows;  // the first spelling is the one Windows uses
  }
  return OBJ_nid2sn(nid) != nullptr ? OBJ_nid2sn(nid) : "?";
}

std::string trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  return text.substr(begin, end - begin);
}

// Keys compare as Windows compares them: "S" and "ST" are the same attribute.
std::string canonical_key(const std::string& key) { return key == "ST" ? "S" : key; }

}  // namespace

std::optional<std::vector<NameAttribute>> parse_distinguished_name(const std::string& text) {
  std::vector<NameAttribute> attributes;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const size_t equals = text.find('=', i);
    if (equals == std::string::npos) return std::nullopt;
    std::string key = trim(text.substr(i, equals - i));
    if (key.empty()) return std::nullopt;
    i = equals + 1;
    while (i < n && text[i] == ' ') ++i;
    std::string value;
    if (i < n && text[i] == '"') {
      ++i;
      for (;;) {
        if (i >= n) return std::nullopt;
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            value += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += text[i++];
      }
      while (i < n && text[i] == ' ') ++i;
      if (i < n && text[i] != ',' && text[i] != ';') return std::nullopt;
    } else {
      const size_t end = text.find_first_of(",;", i);
      value = trim(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
      i = end == std::string::npos ? n : end;
    }
    attributes.emplace_back(canonical_key(key), value);
    if (i < n) ++i;  // the separator
  }
  if (attributes.empty()) return std::nullopt;
  return attributes;
}

X509Pointer load_certificate(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
  if (certificate == nullptr) {
    std::rewind(file);
    certificate = d2i_X509_fp(file, nullptr);
  }
  std::fclose(file);
  return X509Pointer(certificate);
}

std::vector<NameAttribute> certificate_subject(X509* certificate) {
  std::vector<NameAttribute> attributes;
  X509_NAME* name = X509_get_subject_name(certificate);
  const int count = X509_NAME_entry_count(name);
  // X.509 encodes the least specific attribute first; Windows shows the reverse.
  for (int index = count - 1; index >= 0; --index) {
    X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, index);
    const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    if (length < 0) continue;
    attributes.emplace_back(canonical_key(key_for(nid)), std::string(reinterpret_cast<char*>(utf8),
                                                                     static_cast<size_t>(length)));
    OPENSSL_free(utf8);
  }
  return attributes;
}

bool fill_x509_name(X509_NAME* name, const std::vector<NameAttribute>& attributes) {
  for (auto it = attributes.rbegin(); it != attributes.rend(); ++it) {
    const int nid = nid_for(it->first);
    if (nid == NID_undef) return false;
    if (X509_NAME_add_entry_by_NID(name, nid, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(it->second.c_str()), -1,
                                   -1, 0) != 1) {
      return false;
    }
  }
  return true;
}

bool publisher_is_trusted(const std::string& publisher) {
  const auto wanted = parse_distinguished_name(publisher);
  if (!wanted) return false;
  const std::string folder = trust_folder();
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return false;
  bool trusted = false;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    X509Pointer certificate = load_certificate(folder + "/" + name);
    if (certificate && certificate_subject(certificate.get()) == *wanted) {
      trusted = true;
      break;
    }
  }
  ::closedir(directory);
  return trusted;
}

std::string certificate_thumbprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(certificate, EVP_sha1(), digest, &length);
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int k = 0; k < length; ++k) {
    text += hex[digest[k] >> 4];
    text += hex[digest[k] & 0x0F];
  }
  return text;
}

}  // namespace standin
