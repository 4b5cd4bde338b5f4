// The process's entry point on Windows: the arguments split from the wide command line by the
// system's rules and converted to UTF-8 for the shared entry (the narrow argv would have gone
// through the ANSI code page).

#include <windows.h>
// CommandLineToArgvW is the shell's.
#include <shellapi.h>

#include <string>
#include <vector>

#include "launcher/platform/platform.h"

namespace {

std::string to_utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

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
