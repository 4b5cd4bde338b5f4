#pragma once

namespace pellora {

// Removes the package named by the burned-in package full name.
bool uninstall();

}  // namespace pellora
