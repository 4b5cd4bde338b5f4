// Placeholder until this service is built.
#include "installer/platform/posix/backend.h"

namespace pellora::platform::posix {

Files* files() { return nullptr; }

}  // namespace pellora::platform::posix
