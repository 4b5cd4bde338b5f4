#pragma once

namespace pellora {

// Downloads the site's signing certificate and imports it with an elevated PowerShell.
bool install_certificate();

}  // namespace pellora
