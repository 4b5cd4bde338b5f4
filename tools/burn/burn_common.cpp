#include "tools/burn/burn_common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/write_all.h"

namespace burn {
namespace {

std::string system_error(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

Program load_program(const std::string& path, std::string_view marker) {
  Program program;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) throw BurnError(system_error("cannot read", path));
  if (!S_ISREG(info.st_mode)) throw BurnError("cannot read " + path + ": not a regular file");
  program.mode = info.st_mode & 07777;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw BurnError(system_error("cannot read", path));
  program.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) throw BurnError(system_error("cannot read", path));

  const auto begin = program.bytes.begin();
  const auto end = program.bytes.end();
  const auto first = std::search(begin, end, marker.begin(), marker.end());
  if (first == end) {
    throw BurnError("the settings marker was not found in " + path +
                    " (is it the right program, or was it burned already?)");
  }
  if (std::search(first + 1, end, marker.begin(), marker.end()) != end) {
    throw BurnError("the settings marker occurs more than once in " + path);
  }
  program.block_offset = static_cast<size_t>(first - begin);
  return program;
}

void write_atomically(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode) {
  const std::string temporary = path + ".burn-XXXXXX";
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw BurnError(system_error("cannot create a file beside", path));
  const std::string temporary_path(name.data());
  auto fail = [&](const std::string& what) {
    const std::string message = system_error(what, path);
    ::close(fd);
    ::unlink(temporary_path.c_str());
    throw BurnError(message);
  };
  if (!standin::write_all(
          fd, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
    fail("cannot write");
  }
  if (::fchmod(fd, mode) != 0) fail("cannot set the mode of");
  if (::fsync(fd) != 0) fail("cannot write");
  if (::close(fd) != 0) {
    ::unlink(temporary_path.c_str());
    throw BurnError(system_error("cannot write", path));
  }
  if (::rename(temporary_path.c_str(), path.c_str()) != 0) {
    const std::string message = system_error("cannot replace", path);
    ::unlink(temporary_path.c_str());
    throw BurnError(message);
  }
}

}  // namespace burn
