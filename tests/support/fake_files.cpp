#include "tests/support/fake_files.h"

#include "installer/platform/backend.h"
#include "installer/platform/error.h"

namespace pellora::testing {
namespace {

std::string joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string without_trailing_separator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool FakeFiles::create_directory(const std::string& path) {
  std::lock_guard lock(mutex_);
  create_calls_.push_back(path);
  const std::string folder = without_trailing_separator(path);
  if (directories.count(folder) != 0) {
    platform::set_last_error(platform::win32::already_exists);
    return false;
  }
  if (create_directory_error) {
    platform::set_last_error(*create_directory_error);
    return false;
  }
  directories.insert(folder);
  created_.push_back(folder);
  return true;
}

bool FakeFiles::copy_file(const std::string& source, const std::string& target,
                          bool fail_if_exists) {
  std::lock_guard lock(mutex_);
  copies.push_back({source, target, fail_if_exists});
  if (copy_failure_error) {
    platform::set_last_error(*copy_failure_error);
    return false;
  }
  auto found = files.find(source);
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

void FakeFiles::fail_storage_if_asked() const {
  if (storage_failure_hresult) {
    throw platform::PlatformError(*storage_failure_hresult, "Access is denied.\r\n");
  }
}

std::string FakeFiles::create_file_replace_existing(const std::string& folder,
                                                    const std::string& name) {
  std::lock_guard lock(mutex_);
  fail_storage_if_asked();
  const std::string path = joined(folder, name);
  files[path].clear();
  return path;
}

namespace {

// Holds the bytes until commit, then stores them under the target in one step.
class FakePendingFile final : public platform::PendingFile {
 public:
  FakePendingFile(FakeFiles& files, std::string target)
      : files_(files), target_(std::move(target)) {}
  const std::string& target_path() const override { return target_; }
  void write(const uint8_t* data, size_t size) override {
    content_.append(reinterpret_cast<const char*>(data), size);
  }
  void commit() override { files_.put(target_, content_); }

 private:
  FakeFiles& files_;
  std::string target_;
  std::string content_;
};

}  // namespace

bool FakeFiles::create_private_directory(const std::string& path, std::string& refusal) {
  refusal = private_refusal;
  if (!refusal.empty()) return false;
  return create_directory(path) || platform::get_last_error() == platform::win32::already_exists;
}

std::unique_ptr<platform::PendingFile> FakeFiles::create_pending_file(const std::string& folder,
                                                                      const std::string& name) {
  std::lock_guard lock(mutex_);
  fail_storage_if_asked();
  return std::make_unique<FakePendingFile>(*this, joined(folder, name));
}

namespace {

class FakeAppendableFile final : public platform::AppendableFile {
 public:
  FakeAppendableFile(FakeFiles& files, std::string path) : files_(files), path_(std::move(path)) {}
  bool append(std::string_view text) override {
    files_.put(path_, files_.content(path_).value_or("") + std::string(text));
    return true;
  }
  uint64_t size() override { return files_.content(path_).value_or("").size(); }

 private:
  FakeFiles& files_;
  std::string path_;
};

}  // namespace

std::unique_ptr<platform::AppendableFile> FakeFiles::open_for_append(const std::string& path) {
  return std::make_unique<FakeAppendableFile>(*this, path);
}

bool FakeFiles::move_file_replacing(const std::string& from, const std::string& to) {
  std::lock_guard lock(mutex_);
  const auto found = files.find(from);
  if (found == files.end()) {
    platform::set_last_error(platform::win32::file_not_found);
    return false;
  }
  files[to] = found->second;
  files.erase(from);
  return true;
}

void FakeFiles::write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  fail_storage_if_asked();
  files[path] = std::string(bytes.begin(), bytes.end());
}

void FakeFiles::write_text(const std::string& path, const std::string& text) {
  std::lock_guard lock(mutex_);
  fail_storage_if_asked();
  files[path] = text;
}

std::string FakeFiles::read_text(const std::string& path) {
  std::lock_guard lock(mutex_);
  fail_storage_if_asked();
  auto found = files.find(path);
  if (found == files.end()) {
    throw platform::PlatformError(platform::hresult::file_not_found,
                                  "The system cannot find the file specified.\r\n");
  }
  return found->second;
}

void FakeFiles::ensure_folder_exists(const std::string& path) {
  std::lock_guard lock(mutex_);
  fail_storage_if_asked();
  const std::string folder = without_trailing_separator(path);
  if (directories.count(folder) != 0) return;
  for (const auto& [file, content] : files) {
    if (file.rfind(folder + "/", 0) == 0) return;
  }
  throw platform::PlatformError(platform::hresult::file_not_found,
                                "The system cannot find the file specified.\r\n");
}

void FakeFiles::put(const std::string& path, const std::string& content) {
  std::lock_guard lock(mutex_);
  files[path] = content;
}

std::optional<std::string> FakeFiles::content(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto found = files.find(path);
  if (found == files.end()) return std::nullopt;
  return found->second;
}

std::vector<std::string> FakeFiles::create_directory_calls() const {
  std::lock_guard lock(mutex_);
  return create_calls_;
}

std::vector<std::string> FakeFiles::created_directories() const {
  std::lock_guard lock(mutex_);
  return created_;
}

}  // namespace pellora::testing
