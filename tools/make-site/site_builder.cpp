#include "tools/make-site/site_builder.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <pugixml.hpp>
#include <sstream>
#include <stdexcept>

#include "standin/certificates.h"
#include "standin/publisher_id.h"

namespace trevalon::make_site {
namespace {

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string xml_text(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

std::string manifest_xml(const SiteOptions& options) {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  auto package = document.append_child("Package");
  package.append_attribute("xmlns") =
      "http://schemas.microsoft.com/appx/manifest/foundation/windows10";
  package.append_attribute("xmlns:uap") =
      "http://schemas.microsoft.com/appx/manifest/uap/windows10";
  package.append_attribute("xmlns:rescap") =
      "http://schemas.microsoft.com/appx/manifest/foundation/windows10/restrictedcapabilities";
  package.append_attribute("IgnorableNamespaces") = "uap rescap";
  auto identity = package.append_child("Identity");
  identity.append_attribute("Name") = options.name.c_str();
  identity.append_attribute("Publisher") = options.publisher.c_str();
  identity.append_attribute("Version") =
      (options.manifest_version.empty() ? options.version : options.manifest_version).c_str();
  identity.append_attribute("ProcessorArchitecture") = options.architecture.c_str();
  auto properties = package.append_child("Properties");
  properties.append_child("DisplayName").text() = options.name.c_str();
  properties.append_child("PublisherDisplayName").text() = options.publisher.c_str();
  auto capabilities = package.append_child("Capabilities");
  capabilities.append_child("rescap:Capability").append_attribute("Name") = "runFullTrust";
  auto applications = package.append_child("Applications");
  if (!options.executable.empty()) {
    auto application = applications.append_child("Application");
    application.append_attribute("Id") = "App";
    application.append_attribute("Executable") = options.executable.c_str();
    application.append_attribute("EntryPoint") = "Windows.FullTrustApplication";
    if (!options.protocol.empty()) {
      auto extension = application.append_child("Extensions").append_child("uap:Extension");
      extension.append_attribute("Category") = "windows.protocol";
      extension.append_child("uap:Protocol").append_attribute("Name") = options.protocol.c_str();
    }
  }
  return xml_text(document);
}

std::string app_installer_xml(const SiteOptions& options, const std::string& package_file,
                              const std::string& app_installer_file) {
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  auto root = document.append_child("AppInstaller");
  root.append_attribute("xmlns") = "http://schemas.microsoft.com/appx/appinstaller/2018";
  root.append_attribute("Version") = options.version.c_str();
  root.append_attribute("Uri") = (options.base_url + app_installer_file).c_str();
  auto main = root.append_child("MainPackage");
  main.append_attribute("Name") = options.name.c_str();
  main.append_attribute("Publisher") = options.publisher.c_str();
  main.append_attribute("Version") = options.version.c_str();
  main.append_attribute("ProcessorArchitecture") = options.architecture.c_str();
  main.append_attribute("Uri") = (options.base_url + package_file).c_str();
  return xml_text(document);
}

std::string content_types_xml() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"xml\" ContentType=\"application/vnd.ms-appx.manifest+xml\"/>"
         "<Default Extension=\"exe\" ContentType=\"application/x-msdownload\"/>"
         "<Default Extension=\"bin\" ContentType=\"application/octet-stream\"/>"
         "</Types>\n";
}

// Properties-file escaping, so that any value reads back as written.
std::string escape_property(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

class ZipWriter {
 public:
  explicit ZipWriter(const std::string& path) : path_(path) {
    int error = 0;
    archive_ = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive_ == nullptr) throw std::runtime_error("cannot create " + path);
  }
  ~ZipWriter() {
    if (archive_ != nullptr) zip_discard(archive_);
  }
  void add_text(const std::string& name, const std::string& content) {
    buffers_.push_back(std::make_unique<std::string>(content));
    zip_source_t* source =
        zip_source_buffer(archive_, buffers_.back()->data(), buffers_.back()->size(), 0);
    add(name, source, 0644);
  }
  void add_file(const std::string& name, const std::string& source_path, bool executable) {
    zip_source_t* source = zip_source_file(archive_, source_path.c_str(), 0, -1);
    if (source == nullptr) throw std::runtime_error("cannot read " + source_path);
    add(name, source, executable ? 0755 : 0644);
  }
  void close() {
    if (zip_close(archive_) != 0) {
      throw std::runtime_error("cannot write " + path_ + ": " + zip_strerror(archive_));
    }
    archive_ = nullptr;
  }

 private:
  void add(const std::string& name, zip_source_t* source, unsigned mode) {
    const zip_int64_t index = zip_file_add(archive_, name.c_str(), source, ZIP_FL_OVERWRITE);
    if (index < 0) {
      zip_source_free(source);
      throw std::runtime_error("cannot add " + name + " to " + path_);
    }
    zip_file_set_external_attributes(archive_, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                     (S_IFREG | mode) << 16);
  }

  std::string path_;
  zip_t* archive_ = nullptr;
  std::vector<std::unique_ptr<std::string>> buffers_;
};

bool source_is_executable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0111) != 0;
}

void write_certificate(const std::string& path, const std::string& publisher) {
  const auto subject = standin::parse_distinguished_name(publisher);
  if (!subject) throw std::runtime_error("the publisher is not a distinguished name: " + publisher);
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!key) throw std::runtime_error("cannot generate a key");
  standin::X509Pointer certificate(X509_new());
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 60L * 60 * 24 * 365 * 5);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  if (!standin::fill_x509_name(name, *subject)) {
    throw std::runtime_error("the publisher has an attribute X.509 does not know: " + publisher);
  }
  X509_set_issuer_name(certificate.get(), name);
  X509_set_pubkey(certificate.get(), key.get());
  if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign the certificate");
  }
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate.get(), &der);
  if (length <= 0) throw std::runtime_error("cannot encode the certificate");
  write_file(path, std::string(reinterpret_cast<char*>(der), static_cast<size_t>(length)));
  OPENSSL_free(der);
}

std::string read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string sha256_hex(const std::string& content) {
  unsigned char digest[32];
  unsigned int length = 0;
  if (EVP_Digest(content.data(), content.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("cannot hash a site file");
  }
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += digits[byte >> 4];
    hex += digits[byte & 0x0f];
  }
  return hex;
}

}  // namespace

std::string sign_site_file(const std::string& private_key_pem_path, const std::string& name,
                           const std::string& content) {
  FILE* file = std::fopen(private_key_pem_path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("cannot read " + private_key_pem_path);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_PrivateKey(file, nullptr, nullptr, nullptr), EVP_PKEY_free);
  std::fclose(file);
  char group[64] = {};
  if (key == nullptr || !EVP_PKEY_is_a(key.get(), "EC") ||
      EVP_PKEY_get_group_name(key.get(), group, sizeof group, nullptr) != 1 ||
      std::string(group) != "prime256v1") {
    throw std::runtime_error(private_key_pem_path + " holds no ECDSA P-256 private key (PEM)");
  }
  const std::string message = "trevalon-site-file/1\n" + name + "\n" + sha256_hex(content);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  EVP_MD_CTX_free);
  size_t length = 0;
  if (EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    throw std::runtime_error("cannot sign " + name);
  }
  std::string der(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    throw std::runtime_error("cannot sign " + name);
  }
  // OpenSSL writes the DER sequence of r and s; the site carries r || s, as bcrypt takes it.
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> signature(
      d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length)), ECDSA_SIG_free);
  std::string raw(64, '\0');
  if (signature == nullptr ||
      BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), reinterpret_cast<unsigned char*>(raw.data()),
                   32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()),
                   reinterpret_cast<unsigned char*>(raw.data()) + 32, 32) != 32) {
    throw std::runtime_error("cannot encode the signature of " + name);
  }
  return raw;
}

std::string encode_entry_name(const std::string& path) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}

void build_site(const SiteOptions& options) {
  if (options.out.empty() || options.name.empty() || options.publisher.empty() ||
      options.version.empty()) {
    throw std::runtime_error("--out, --name, --publisher and --version are required");
  }
  std::filesystem::create_directories(options.out);
  const std::string package_file =
      options.package_file.empty() ? options.name + ".msix" : options.package_file;
  const std::string app_installer_file = options.appinstaller_file.empty()
                                             ? options.name + ".appinstaller"
                                             : options.appinstaller_file;

  ZipWriter zip(options.out + "/" + package_file);
  zip.add_text("AppxManifest.xml", manifest_xml(options));
  zip.add_text("[Content_Types].xml", content_types_xml());
  for (const PackageFile& file : options.files) {
    const bool executable =
        file.destination == options.executable || source_is_executable(file.source);
    zip.add_file(encode_entry_name(file.destination), file.source, executable);
  }
  for (const PackageFile& folder : options.folders) {
    if (!std::filesystem::is_directory(folder.source)) {
      throw std::runtime_error("not a folder: " + folder.source);
    }
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder.source)) {
      if (!item.is_regular_file()) continue;
      const std::string relative =
          std::filesystem::relative(item.path(), folder.source).generic_string();
      const std::string destination = folder.destination + "/" + relative;
      zip.add_file(encode_entry_name(destination), item.path().string(),
                   destination == options.executable || source_is_executable(item.path()));
    }
  }
  for (const PackageFile& entry : options.raw_entries) {
    zip.add_file(entry.destination, entry.source, source_is_executable(entry.source));
  }
  zip.close();

  write_file(options.out + "/" + app_installer_file,
             app_installer_xml(options, package_file, app_installer_file));

  if (options.metadata_file) {
    std::string metadata;
    metadata += "app.windows.manifests.version-quad=" +
                escape_property(options.metadata_version.empty() ? options.version
                                                                 : options.metadata_version) +
                "\n";
    metadata += "windows.package-family-name=" +
                escape_property(standin::package_family_name(options.name, options.publisher)) +
                "\n";
    metadata += "windows.site-base-url=" + escape_property(options.base_url) + "\n";
    if (!options.installer_name.empty()) {
      metadata += "windows.exe-installer-name=" + escape_property(options.installer_name) + "\n";
    }
    for (const auto& [key, value] : options.metadata) {
      metadata += key + "=" + escape_property(value) + "\n";
    }
    write_file(options.out + "/metadata.properties", metadata);
  }

  for (const PackageFile& file : options.site_files) {
    const std::string target = options.out + "/" + file.destination;
    std::filesystem::copy_file(file.source, target,
                               std::filesystem::copy_options::overwrite_existing);
  }
  if (!options.certificate_file.empty()) {
    write_certificate(options.out + "/" + options.certificate_file, options.publisher);
  }

  if (!options.signing_key.empty()) {
    std::vector<std::string> signed_files;
    if (options.metadata_file) signed_files.push_back("metadata.properties");
    if (!options.certificate_file.empty()) signed_files.push_back(options.certificate_file);
    for (const PackageFile& file : options.site_files) signed_files.push_back(file.destination);
    for (const std::string& relative : signed_files) {
      const std::string path = options.out + "/" + relative;
      const std::string name = std::filesystem::path(relative).filename().string();
      write_file(path + ".sig", sign_site_file(options.signing_key, name, read_whole_file(path)));
    }
  }
}

}  // namespace trevalon::make_site
