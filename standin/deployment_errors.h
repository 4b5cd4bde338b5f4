#pragma once
// HRESULTs the deployment service reports for failures the installer does not single out.

#include <cstdint>

namespace standin::deployment_error {

inline constexpr uint32_t invalid_manifest = 0x80080204;       // APPX_E_INVALID_MANIFEST
inline constexpr uint32_t corrupt_package = 0x80080206;        // APPX_E_CORRUPT_CONTENT
inline constexpr uint32_t invalid_app_installer = 0x8008020C;  // the .appinstaller is unusable
inline constexpr uint32_t identity_mismatch = 0x80073CF6;      // ERROR_INSTALL_REGISTRATION_FAILURE
inline constexpr uint32_t disk_error = 0x80073CF9;             // ERROR_INSTALL_FAILED

}  // namespace standin::deployment_error
