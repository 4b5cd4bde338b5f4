#pragma once
// What every platform backend defines. Each folder beside this one (posix/, windows/) is one
// backend: it implements every declaration below and owns the process's real entry point, and
// nothing else of it is visible above the platform layer. The build compiles exactly one of
// them (TREVALON_PLATFORM).

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
}  // namespace pellora::platform
