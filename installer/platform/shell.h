#pragma once
#include <cstdint>
#include <string>

namespace pellora::platform {

inline constexpr int sw_hide = 0;
inline constexpr int sw_shownormal = 1;

class Shell {
 public:
  virtual ~Shell() = default;
  // ShellExecuteW(owner = the progress window, verb, file, parameters, no working directory,
  // show command). Returns the shell's result: greater than 32 on success; 32 or less on failure,
  // with the last error set (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_NO_ASSOCIATION,
  // ERROR_CANCELLED when elevation was refused). The started program is not waited for.
  virtual intptr_t shell_execute(const std::string& verb, const std::string& file,
                                 const std::string& parameters, int show_command) = 0;
};

}  // namespace pellora::platform
