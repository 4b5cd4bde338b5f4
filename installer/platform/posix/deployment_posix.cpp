// Placeholder until this service is built.
#include "installer/platform/posix/backend.h"

namespace pellora::platform::posix {

PackageManager* package_manager() { return nullptr; }

}  // namespace pellora::platform::posix
