// The stand-in's readers of the .appinstaller file and AppxManifest.xml: any document either
// parses or yields an error text, and what parses is usable.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "standin/manifest.h"

using namespace standin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (const auto file = parse_app_installer(xml, error)) {
    (void)parse_package_version(file->main_package.version);
  } else if (error.empty()) {
    std::abort();
  }
  error.clear();
  if (const auto manifest = parse_appx_manifest(xml, error)) {
    (void)parse_package_version(manifest->identity.version);
  } else if (error.empty()) {
    std::abort();
  }
  (void)parse_package_version(xml);
  return 0;
}
