#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "installer/platform/error.h"
#include "installer/platform/posix/services_posix.h"

namespace pellora::platform::posix {
namespace {

namespace fs = std::filesystem;

// Points the platform root somewhere for one test.
class ScopedRoot {
 public:
  explicit ScopedRoot(const fs::path& root) {
    if (const char* old = std::getenv("TREVALON_PLATFORM_ROOT")) saved_ = old;
    ::setenv("TREVALON_PLATFORM_ROOT", root.c_str(), 1);
  }
  ~ScopedRoot() {
    if (saved_) {
      ::setenv("TREVALON_PLATFORM_ROOT", saved_->c_str(), 1);
    } else {
      ::unsetenv("TREVALON_PLATFORM_ROOT");
    }
  }

 private:
  std::optional<std::string> saved_;
};

fs::path fresh_folder() {
  std::string pattern = (fs::temp_directory_path() / "clipboard-test-XXXXXX").string();
  return fs::path(::mkdtemp(pattern.data()));
}

TEST(PosixClipboard, AnUnusableRootIsAPlatformError) {
  const fs::path folder = fresh_folder();
  std::ofstream(folder / "file") << "x";
  ScopedRoot scoped(folder / "file" / "root");
  try {
    clipboard()->set_text_and_flush("text");
    FAIL() << "the clipboard accepted the text";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.code() & 0xFFFF0000u, 0x80070000u);
    EXPECT_NE(error.message().find("root"), std::string::npos);
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace pellora::platform::posix
