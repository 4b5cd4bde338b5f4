#include "tests/support/fake_files.h"

#include "installer/platform/error.h"
#include "installer/platform/last_error.h"
#include "installer/platform/services.h"

namespace pellora::testing {
namespace {

std::string strip_trailing_separator(std::string path) {
  const std::string separator = platform::path_separator;
  while (path.size() > separator.size() && path.ends_with(separator)) {
    path.resize(path.size() - separator.size());
  }
  return path;
}

platform::PlatformError not_found(const std::string& path) {
  return platform::PlatformError(platform::hresult::file_not_found,
                                 "The system cannot find the file specified: " + path);
}

}  // namespace

bool FakeFiles::create_directory(const std::string& path) {
  std::lock_guard lock(mutex_);
  create_calls_.push_back(path);
  const std::string folder = strip_trailing_separator(path);
  if (existing_directories.count(folder) != 0) {
    platform::set_last_error(platform::win32::already_exists);
    return false;
  }
  if (create_directory_error) {
    platform::set_last_error(*create_directory_error);
    return false;
  }
  existing_directories.insert(folder);
  created_.push_back(folder);
  return true;
}

bool FakeFiles::copy_file(const std::string& source, const std::string& target,
                          bool fail_if_exists) {
  std::lock_guard lock(mutex_);
  if (copy_file_error) {
    platform::set_last_error(*copy_file_error);
    return false;
  }
  const auto found = files.find(source);
  if (found == files.end()) {
    platform::set_last_error(platform::win32::file_not_found);
    return false;
  }
  if (fail_if_exists && files.count(target) != 0) {
    platform::set_last_error(80);  // ERROR_FILE_EXISTS
    return false;
  }
  files[target] = found->second;
  return true;
}

platform::ShellFileOperationResult FakeFiles::shell_copy(const std::string& source,
                                                         const std::string& destination) {
  std::lock_guard lock(mutex_);
  shell_copies.emplace_back(source, destination);
  return shell_result;
}

platform::ShellFileOperationResult FakeFiles::shell_delete(const std::string& path) {
  std::lock_guard lock(mutex_);
  shell_deletes.push_back(path);
  return shell_result;
}

std::string FakeFiles::create_file_replace_existing(const std::string& folder,
                                                    const std::string& name) {
  std::lock_guard lock(mutex_);
  const std::string stripped = strip_trailing_separator(folder);
  if (existing_directories.count(stripped) == 0) throw not_found(folder);
  const std::string path = stripped + platform::path_separator + name;
  files[path].clear();
  return path;
}

void FakeFiles::write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  files[path] = std::string(bytes.begin(), bytes.end());
}

void FakeFiles::write_text(const std::string& path, const std::string& text) {
  std::lock_guard lock(mutex_);
  files[path] = text;
}

std::string FakeFiles::read_text(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto found = files.find(path);
  if (found == files.end()) throw not_found(path);
  return found->second;
}

void FakeFiles::ensure_folder_exists(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (existing_directories.count(strip_trailing_separator(path)) == 0) throw not_found(path);
}

std::vector<std::string> FakeFiles::create_directory_calls() const {
  std::lock_guard lock(mutex_);
  return create_calls_;
}

std::vector<std::string> FakeFiles::created_directories() const {
  std::lock_guard lock(mutex_);
  return created_;
}

std::optional<std::string> FakeFiles::file(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  return found->second;
}

}  // namespace pellora::testing
