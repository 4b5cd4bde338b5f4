#pragma once
// What every platform backend defines. Each folder beside this one (posix/, windows/) is one
// backend: it implements every declaration below and owns the process's real entry point, and
// nothing else of it is visible above the platform layer. The build compiles exactly one of
// them (TREVALON_PLATFORM).

#include <cstdint>
#include <string>

#include "common/hresult.h"
#include "installer/platform/services.h"

namespace pellora {

// The shared entry point, defined by the flows. The backend's real main (main here, wWinMain on
// Windows) does its OS's own set-up and hands over the text after the program name as one
// UTF-8 command line, exactly as the OS received it. Returns the process exit code.
int installer_main(std::string command_line);

}  // namespace pellora

namespace pellora::platform {

// The backend's services, each living for the whole process.
Services backend_services();

// The separator of the OS's paths ("\\" on Windows, "/" on POSIX).
extern const char* const path_separator;

// The calling thread's last Win32 error (GetLastError / SetLastError). Backend calls shaped
// after Win32 functions set it when they fail.
void set_last_error(uint32_t code);
uint32_t get_last_error();

// The system's message text for a Win32 error code, as FormatMessageW gives it, in UTF-8 (it
// usually ends with "\r\n"); empty when the system has none.
std::string format_message(uint32_t code);

}  // namespace pellora::platform
