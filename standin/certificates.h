#pragma once
// Publisher names and certificates: the trust store holds certificates, and a package is
// trusted when one of them has the package's Publisher as its subject.

#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace standin {

// One attribute of a distinguished name as Windows writes it ("CN", "O", "S", ...).
using NameAttribute = std::pair<std::string, std::string>;

// Parses "CN=Name, O=Org, C=US" (values may be double-quoted, a doubled quote inside being a
// quote). Nullopt when the text is not a distinguished name.
std::optional<std::vector<NameAttribute>> parse_distinguished_name(const std::string& text);

struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Pointer = std::unique_ptr<X509, X509Deleter>;

// A certificate file in PEM or DER form; null when the file holds neither.
X509Pointer load_certificate(const std::string& path);

// The subject's attributes in the order Windows shows them (most specific first).
std::vector<NameAttribute> certificate_subject(X509* certificate);

// Builds an X509 name whose subject reads as `attributes` (for self-signed test certificates).
// False when an attribute has no X.509 equivalent.
bool fill_x509_name(X509_NAME* name, const std::vector<NameAttribute>& attributes);

// True when trust/ holds a certificate whose subject equals the publisher.
bool publisher_is_trusted(const std::string& publisher);

// SHA-1 of the certificate's DER form in upper-case hexadecimal (what Windows calls the
// thumbprint).
std::string certificate_thumbprint(X509* certificate);

}  // namespace standin
