// The process's entry point on Windows: the arguments split from the wide command line by the
// system's rules and converted to UTF-8 for the shared entry (the narrow argv would have gone
// through the ANSI code page).

#include <windows.h>
// CommandLineToArgvW is the shell's.
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/windows/wide_text.h"
#include "launcher/platform/platform.h"

namespace {

using pellora::platform::windows::to_utf16;
using pellora::platform::windows::to_utf8;

// The argument vector CommandLineToArgvW allocates, freed with LocalFree.
struct WideArguments {
  int count = 0;
  wchar_t** values = CommandLineToArgvW(GetCommandLineW(), &count);
  ~WideArguments() { LocalFree(values); }
};

}  // namespace

int main() {
  const WideArguments wide;
  std::vector<std::string> arguments;
  for (int i = 1; wide.values != nullptr && i < wide.count; ++i) {
    arguments.push_back(to_utf8(wide.values[i]));
  }
  return launcher::launcher_main(arguments);
}
