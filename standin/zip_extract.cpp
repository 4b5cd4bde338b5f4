#include "standin/zip_extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <vector>

#include "standin/platform_root.h"

namespace standin {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percent_decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hex_value(text[i + 1]);
      const int low = hex_value(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// Package metadata that Windows does not put into the installed folder.
bool is_package_metadata(const std::string& path) { return path == "[Content_Types].xml"; }

}  // namespace

std::optional<std::string> package_entry_path(const std::string& entry_name) {
  std::string decoded = percent_decode(entry_name);
  if (decoded.find('\0') != std::string::npos) return std::nullopt;
  for (char& c : decoded) {
    if (c == '\\') c = '/';  // Windows takes a backslash as a separator too
  }
  if (decoded.empty() || decoded[0] == '/') return std::nullopt;
  if (decoded.size() >= 2 && decoded[1] == ':') return std::nullopt;  // a drive letter
  std::string path;
  size_t start = 0;
  while (start <= decoded.size()) {
    size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    const std::string part = decoded.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") {
      if (!path.empty()) path += '/';
      path += part;
    }
    start = end + 1;
  }
  if (path.empty()) return std::nullopt;
  if (decoded.back() == '/') path += '/';  // a folder entry
  return path;
}

PackageArchive::PackageArchive(const std::string& path) {
  int error = 0;
  archive_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
}

PackageArchive::~PackageArchive() {
  if (archive_ != nullptr) zip_discard(static_cast<zip_t*>(archive_));
}

std::optional<std::string> PackageArchive::read(const std::string& entry_name) {
  auto* archive = static_cast<zip_t*>(archive_);
  const zip_int64_t index = zip_name_locate(archive, entry_name.c_str(), 0);
  if (index < 0) return std::nullopt;
  zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
  if (file == nullptr) return std::nullopt;
  std::string content;
  char buffer[65536];
  zip_int64_t count = 0;
  while ((count = zip_fread(file, buffer, sizeof buffer)) > 0) {
    content.append(buffer, static_cast<size_t>(count));
  }
  zip_fclose(file);
  if (count < 0) return std::nullopt;
  return content;
}

bool PackageArchive::extract_all(const std::string& folder, std::string& error,
                                 const std::function<void(uint32_t, uint32_t)>& progress) {
  auto* archive = static_cast<zip_t*>(archive_);
  if (!make_directories(folder)) {
    error = "The folder " + folder + " could not be created.";
    return false;
  }
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  std::vector<char> buffer(65536);
  for (zip_int64_t index = 0; index < count; ++index) {
    const auto entry = static_cast<zip_uint64_t>(index);
    const char* raw_name = zip_get_name(archive, entry, ZIP_FL_ENC_RAW);
    if (raw_name == nullptr) {
      error = "An entry of the package has no name.";
      return false;
    }
    const auto relative = package_entry_path(raw_name);
    if (!relative) {
      error = std::string("The package entry \"") + raw_name + "\" lies outside the package.";
      return false;
    }
    if (is_package_metadata(*relative)) continue;
    const std::string target = folder + "/" + *relative;
    if (relative->back() == '/') {
      if (!make_directories(target)) {
        error = "The folder " + target + " could not be created.";
        return false;
      }
      continue;
    }
    const size_t slash = target.rfind('/');
    if (!make_directories(target.substr(0, slash))) {
      error = "The folder for " + target + " could not be created.";
      return false;
    }
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    mode_t mode = 0644;
    if (zip_file_get_external_attributes(archive, entry, 0, &system, &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX && ((attributes >> 16) & 0111) != 0) {
      mode = 0755;
    }
    zip_file_t* file = zip_fopen_index(archive, entry, 0);
    if (file == nullptr) {
      error = std::string("The package entry \"") + raw_name + "\" cannot be read.";
      return false;
    }
    const int out =
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    bool ok = out >= 0;
    zip_int64_t read_count = 0;
    while (ok && (read_count = zip_fread(file, buffer.data(), buffer.size())) > 0) {
      const char* data = buffer.data();
      size_t left = static_cast<size_t>(read_count);
      while (ok && left > 0) {
        const ssize_t written = ::write(out, data, left);
        if (written < 0 && errno == EINTR) continue;
        ok = written > 0;
        if (ok) {
          data += written;
          left -= static_cast<size_t>(written);
        }
      }
    }
    if (read_count < 0) ok = false;
    zip_fclose(file);
    if (out >= 0) {
      ::fchmod(out, mode);
      if (::close(out) != 0) ok = false;
    }
    if (!ok) {
      error = std::string("The package entry \"") + raw_name + "\" could not be extracted.";
      return false;
    }
    if (progress) progress(static_cast<uint32_t>(index + 1), static_cast<uint32_t>(count));
  }
  return true;
}

}  // namespace standin
