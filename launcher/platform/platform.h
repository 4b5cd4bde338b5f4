#pragma once
// The launcher's small platform layer: everything a backend (platform/posix/, platform/windows/)
// defines, the real main included. The core holds every text and decision; a backend only maps
// each call to its OS.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// The shared entry point, defined with the burned-in configuration. The backend's real main
// (main on POSIX, wmain on Windows) hands over the command-line arguments after the program
// path, in UTF-8.
int launcher_main(const std::vector<std::string>& arguments);

}  // namespace launcher

namespace launcher::platform {

enum class KnownFolder { local_app_data, roaming_app_data };

// redirected: where the package's file-system redirection sends the folder;
// user: the user's own folder, without package redirection.
enum class KnownFolderMode { redirected, user };

struct KnownFolderPath {
  // 0 (S_OK) on success; file-not-found (pellora::platform::hresult) when the folder has no
  // redirection target.
  uint32_t hresult = 0;
  std::string path;  // UTF-8, valid when hresult is 0
};

// The services that tests replace with a fake. Called from the initial thread before the
// Java thread exists, and from the Java thread afterwards; never from two threads at once.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual KnownFolderPath known_folder_path(KnownFolder folder, KnownFolderMode mode) = 0;
  virtual std::optional<std::string> get_variable(const std::string& name) = 0;
  virtual void set_variable(const std::string& name, const std::string& value) = 0;
  virtual void remove_variable(const std::string& name) = 0;
  // One record of the debugger output stream.
  virtual void debug_output(std::string_view text) = 0;
  // A system-modal error box; returns once the user has closed it.
  virtual void message_box(std::string_view text, std::string_view caption) = 0;
};

// The real services of this OS.
Platform& system_platform();

// Writes `text` to standard error in one write, unbuffered.
void write_standard_error(std::string_view text);

// Ends the process through the runtime's exit, so that its exit handlers run.
[[noreturn]] void exit_process(int code);

// The executable's path as the OS reports it.
std::string executable_path();

// The separator of the OS's paths.
char path_separator();

// Switches the console to UTF-8 with virtual-terminal output; failures are ignored.
void set_up_utf8_console();

// Runs `body` on a new thread with `stack_size` bytes of stack (0: the default) and waits for
// it. Returns false when the thread could not be created.
bool run_on_new_thread(uint32_t stack_size, void (*body)());

}  // namespace launcher::platform
