#pragma once
// Files on the real disk, for tests that download into a temporary folder. Only the storage
// calls a download makes are served; the others fail loudly.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "installer/platform/error.h"
#include "installer/platform/files.h"
#include "tests/support/scratch_folder.h"

namespace pellora::testing {

class DiskFiles final : public platform::Files {
 public:
  std::string create_file_replace_existing(const std::string& folder,
                                           const std::string& name) override {
    if (!std::filesystem::is_directory(folder)) {
      throw platform::PlatformError(0x80070003, "The system cannot find the path specified.");
    }
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) throw platform::PlatformError(platform::hresult::access_denied, "Access is denied.");
    return path;
  }
  void ensure_folder_exists(const std::string& path) override {
    if (!std::filesystem::is_directory(path)) {
      throw platform::PlatformError(0x80070003, "The system cannot find the path specified.");
    }
  }
  bool create_directory(const std::string&) override { throw unused(); }
  bool copy_file(const std::string&, const std::string&, bool) override { throw unused(); }
  platform::ShellFileOperationResult shell_copy(const std::string&, const std::string&) override {
    throw unused();
  }
  platform::ShellFileOperationResult shell_delete(const std::string&) override { throw unused(); }
  void write_file(const std::string&, const std::vector<uint8_t>&) override { throw unused(); }
  void write_text(const std::string&, const std::string&) override { throw unused(); }
  std::string read_text(const std::string&) override { throw unused(); }

 private:
  static std::logic_error unused() { return std::logic_error("DiskFiles: not served"); }
};

}  // namespace pellora::testing
