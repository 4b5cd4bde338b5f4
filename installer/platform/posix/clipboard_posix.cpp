// Placeholder until this service is built.
#include "installer/platform/posix/backend.h"

namespace pellora::platform::posix {

Clipboard* clipboard() { return nullptr; }

}  // namespace pellora::platform::posix
