// Any block, of any size, parses without reading outside it; a valid record uses every string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "installer/core/burned_in_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const pellora::ParsedSettingsBlock parsed = pellora::parse_settings_block(data, size);
  if (parsed.problem.empty()) {
    const auto& s = parsed.settings;
    const size_t used = s.site_base_url.size() + s.appinstaller_file_name.size() +
                        s.launch_uri.size() + s.package_full_name.size() + s.app_exe_name.size() +
                        s.certificate_file_name.size() + s.installer_file_name.size() +
                        s.eighth.size() + 9;
    if (used > size) std::abort();
  }
  return 0;
}
