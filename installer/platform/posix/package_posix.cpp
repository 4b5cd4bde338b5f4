// Placeholder until this service is built.
#include "installer/platform/posix/backend.h"

namespace pellora::platform::posix {

CurrentPackage* current_package() { return nullptr; }

}  // namespace pellora::platform::posix
