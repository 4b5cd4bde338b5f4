#pragma once
// File services kept in memory, with failures on request. Paths are plain strings; a folder
// exists when it was created (or set up by the test) or when a file lies in it. create_directory
// answers as CreateDirectoryW does (ERROR_ALREADY_EXISTS for a folder that exists). Install it
// with `fake.services().files = &files;`.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "installer/platform/files.h"

namespace pellora::testing {

class FakeFiles final : public platform::Files {
 public:
  struct CopyCall {
    std::string source;
    std::string target;
    bool fail_if_exists;
  };

  bool create_directory(const std::string& path) override;
  // As create_directory, an existing folder being fine; `private_refusal` refuses it.
  bool create_private_directory(const std::string& path, std::string& refusal) override;
  bool copy_file(const std::string& source, const std::string& target,
                 bool fail_if_exists) override;
  platform::ShellFileOperationResult shell_copy(const std::string& source,
                                                const std::string& destination) override;
  platform::ShellFileOperationResult shell_delete(const std::string& path) override;
  std::string create_file_replace_existing(const std::string& folder,
                                           const std::string& name) override;
  std::unique_ptr<platform::PendingFile> create_pending_file(const std::string& folder,
                                                             const std::string& name) override;
  // Appends go to `files` like any content.
  std::unique_ptr<platform::AppendableFile> open_for_append(const std::string& path) override;
  bool move_file_replacing(const std::string& from, const std::string& to) override;
  void write_file(const std::string& path, const std::vector<uint8_t>& bytes) override;
  void write_text(const std::string& path, const std::string& text) override;
  std::string read_text(const std::string& path) override;
  void ensure_folder_exists(const std::string& path) override;

  void put(const std::string& path, const std::string& content);
  std::optional<std::string> content(const std::string& path) const;
  // Every create_directory call, in order, whatever its outcome.
  std::vector<std::string> create_directory_calls() const;
  // The folders created by create_directory (not those set up by the test).
  std::vector<std::string> created_directories() const;

  // Set up by the test, and what the calls left.
  std::map<std::string, std::string> files;
  std::set<std::string> directories;
  std::vector<CopyCall> copies;
  std::vector<std::pair<std::string, std::string>> shell_copies;  // source, destination
  std::vector<std::string> shell_deletes;

  // Failures on request: the Win32 calls fail with this last error, the storage calls raise
  // PlatformError with this HRESULT.
  std::optional<uint32_t> create_directory_error;  // for a folder that does not exist yet
  std::optional<uint32_t> copy_failure_error;
  std::string private_refusal;
  std::optional<uint32_t> storage_failure_hresult;
  platform::ShellFileOperationResult shell_result;

 private:
  void fail_storage_if_asked() const;
  mutable std::mutex mutex_;
  std::vector<std::string> create_calls_;
  std::vector<std::string> created_;
};

}  // namespace pellora::testing
