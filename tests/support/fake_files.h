#pragma once
// An in-memory Files service. It records the folders the core asks to create and answers as
// CreateDirectoryW does (ERROR_ALREADY_EXISTS for a folder that exists); files are kept as
// bytes by path. Install it with `fake.services().files = &files;`.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "installer/platform/files.h"

namespace pellora::testing {

class FakeFiles final : public platform::Files {
 public:
  bool create_directory(const std::string& path) override;
  bool copy_file(const std::string& source, const std::string& target,
                 bool fail_if_exists) override;
  platform::ShellFileOperationResult shell_copy(const std::string& source,
                                                const std::string& destination) override;
  platform::ShellFileOperationResult shell_delete(const std::string& path) override;
  std::string create_file_replace_existing(const std::string& folder,
                                           const std::string& name) override;
  void write_file(const std::string& path, const std::vector<uint8_t>& bytes) override;
  void write_text(const std::string& path, const std::string& text) override;
  std::string read_text(const std::string& path) override;
  void ensure_folder_exists(const std::string& path) override;

  // Every create_directory call, in order, whatever its outcome.
  std::vector<std::string> create_directory_calls() const;
  // The folders created by create_directory (not those set up by the test).
  std::vector<std::string> created_directories() const;
  std::optional<std::string> file(const std::string& path) const;

  // Set up by the test.
  std::set<std::string> existing_directories;
  std::map<std::string, std::string> files;
  // When set, create_directory of a new folder fails with this Win32 error.
  std::optional<uint32_t> create_directory_error;
  // When set, copy_file fails with this Win32 error.
  std::optional<uint32_t> copy_file_error;
  platform::ShellFileOperationResult shell_result;
  std::vector<std::pair<std::string, std::string>> shell_copies;  // source, destination
  std::vector<std::string> shell_deletes;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> create_calls_;
  std::vector<std::string> created_;
};

}  // namespace pellora::testing
