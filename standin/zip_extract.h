#pragma once
// A package archive (a zip): reading one entry, and extracting all of it into a folder without
// letting any entry land outside that folder.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace standin {

// Entry names in a package are percent-encoded ("My%20File.txt"). Returns the decoded relative
// path, or nullopt when it would leave the package folder (absolute, "..", NUL).
std::optional<std::string> package_entry_path(const std::string& entry_name);

class PackageArchive {
 public:
  explicit PackageArchive(const std::string& path);
  ~PackageArchive();
  PackageArchive(const PackageArchive&) = delete;
  PackageArchive& operator=(const PackageArchive&) = delete;

  bool opened() const { return archive_ != nullptr; }
  // The entry's content, or nullopt when there is no such entry.
  std::optional<std::string> read(const std::string& entry_name);
  // Extracts every entry into `folder` (created), marking entries stored with an executable
  // mode executable. False with `error` set on the first failure.
  bool extract_all(const std::string& folder, std::string& error,
                   const std::function<void(uint32_t, uint32_t)>& progress);

 private:
  void* archive_ = nullptr;
};

}  // namespace standin
