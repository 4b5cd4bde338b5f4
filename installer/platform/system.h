#pragma once
// Process-level services: exit, pauses, the program's own path, environment, temporary path,
// user rights, the path separator, the last error and its text. All may be called from any
// thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace pellora::platform {

class System {
 public:
  virtual ~System() = default;
  // ExitProcess: ends the process at once with this code (standard streams are flushed first).
  [[noreturn]] virtual void exit_process(int code) = 0;
  // TrySubmitThreadpoolCallback: runs `work` on a worker thread. False, with the last error set,
  // when it cannot be submitted.
  virtual bool submit_work(std::function<void()> work) = 0;
  // GetCurrentProcessId.
  virtual uint32_t process_id() = 0;
  // Sleep. Tests replace it so that nothing waits.
  virtual void sleep_ms(uint32_t milliseconds) = 0;
  // GetTickCount64: milliseconds on a clock that only moves forward.
  virtual uint64_t tick_count_ms() = 0;
  // GetModuleFileNameW(null): the program's own path; empty (with the last error set) on failure.
  virtual std::string module_file_name() = 0;
  // GetTempPathW: the user's temporary folder, ending in the path separator; empty (with the
  // last error set) on failure.
  virtual std::string temp_path() = 0;
  virtual std::optional<std::string> get_env(const std::string& name) = 0;
  virtual void set_env(const std::string& name, const std::string& value) = 0;
  // GetUserNameW + NetUserGetInfo(level 1): true when the user's privilege level is admin.
  // False when the user is not an administrator or the lookup failed.
  virtual bool current_user_is_admin() = 0;
  // The separator of the OS's paths ("\\" on Windows, "/" on POSIX).
  virtual std::string path_separator() = 0;
  // GetLastError / SetLastError: the calling thread's last Win32 error. Backend calls shaped
  // after Win32 functions set it when they fail.
  virtual uint32_t last_error() = 0;
  virtual void set_last_error(uint32_t code) = 0;
  // The system's message text for a Win32 error code, as FormatMessageW gives it, in UTF-8 (it
  // usually ends with "\r\n"); empty when the system has none.
  virtual std::string format_message(uint32_t code) = 0;
};

}  // namespace pellora::platform
