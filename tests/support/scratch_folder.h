#pragma once
// A fresh folder under the system's temporary folder for tests on the real disk, removed with
// its content afterwards, with shorthands for the files inside it.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

namespace pellora::testing {

// The file's content; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ScratchFolder {
 public:
  ScratchFolder() {
    // A fresh name each time: creating a folder that exists fails, so no two tests share one.
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto candidate = base / ("trevalon-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) path_ = candidate.string();
    }
    if (path_.empty()) throw std::runtime_error("no scratch folder could be made");
  }
  ~ScratchFolder() {
    // A test may have taken the folder's own permissions away.
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string path(const std::string& relative) const {
    return (std::filesystem::path(path_) / relative).string();
  }

  // Writes `content` to the file, making its folders first.
  void write(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(path(relative)).parent_path());
    std::ofstream(path(relative), std::ios::binary) << content;
  }
  // The file's content; empty when it cannot be read.
  std::string read(const std::string& relative) const { return read_file(path(relative)); }

 private:
  std::string path_;
};

}  // namespace pellora::testing
